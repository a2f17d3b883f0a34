// clsKVKData as a store: each field holds exactly what it was given, independently of the others,
// and a record a host keeps outlives the application's move to a new one.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kvk/kvk_data.h"

namespace qz {
namespace {

KVKField FieldAt(std::size_t i) {
  return static_cast<KVKField>(i);
}

TEST(KvkRecord, NewRecordIsEmpty) {
  const clsKVKData record;
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    EXPECT_EQ(record.Get(FieldAt(i)), "") << kKVKFieldNames[i];
  }
}

TEST(KvkRecord, LetStoresExactTextInOneFieldOnly) {
  // Umlauts, outer spaces and an embedded NUL must all come back unchanged.
  const std::string value = std::string("  Größe\0x ", 12);
  for (std::size_t i = 0; i < kKVKFieldCount; ++i) {
    clsKVKData record;
    record.Let(FieldAt(i), value);
    for (std::size_t j = 0; j < kKVKFieldCount; ++j) {
      EXPECT_EQ(record.Get(FieldAt(j)), i == j ? value : "")
          << "set " << kKVKFieldNames[i] << ", read " << kKVKFieldNames[j];
    }
    record.Let(FieldAt(i), "");
    EXPECT_EQ(record.Get(FieldAt(i)), "") << kKVKFieldNames[i];
  }
}

TEST(KvkRecord, HeldRecordSurvivesItsOwnersReplacement) {
  auto current = std::make_shared<clsKVKData>();
  current->Let(KVKField::FamilienName, "Müller");
  const auto held = current;
  current = std::make_shared<clsKVKData>();
  EXPECT_EQ(held->Get(KVKField::FamilienName), "Müller");
}

}  // namespace
}  // namespace qz
