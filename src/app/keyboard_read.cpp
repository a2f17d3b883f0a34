// The keyboard branch of ReadCard and the handlers of the window's keyboard reports.
//
// A report of the keyboard reader reaches the host the long way round, because the reader's
// driver reports from inside its own ReadKVK call: the driver's callback -> frmkvkUI -> the
// handler here, which logs it and throws ERR_InCherry back into the callback -> the reader
// raises that from ReadKVK -> frmkvkUI::ReadCherry hands it up through mError ->
// mFrmUI_mError keeps it in mErr* and the window hides -> ReadFromKeyboard raises it, and
// ReadCard's failure handling logs it once more and raises it to the host.
#include <string>

#include "app/cls_application.h"
#include "ui/frm_kvk_ui.h"
#include "ui/keyboard_reader.h"

namespace qz {
namespace {

// The keyboard reader's number for a card it could not read: a result, not an error.
constexpr std::int32_t kCherryCardUnreadable = -42;

// The fields the keyboard reader delivers, in the order they are copied. It has no insurer's
// number and no checksum; those stay empty.
constexpr KVKField kKeyboardFields[] = {
    KVKField::KrankenKassenName,
    KVKField::VersichertenNummer,
    KVKField::VKNR,
    KVKField::VersichertenStatus,
    KVKField::StatusErgaenzung,
    KVKField::Titel,
    KVKField::Vorname,
    KVKField::NamensZusatz,
    KVKField::FamilienName,
    KVKField::Geburtsdatum,
    KVKField::StrassenName,
    KVKField::LaenderCode,
    KVKField::PostLeitzahl,
    KVKField::OrtsName,
    KVKField::Gueltigkeit,
};

}  // namespace

enmReturnValue clsApplication::ReadFromKeyboard() {
  mResult = RV_Error;
  mFrmUI->SetTitle("KVK Kartenlesegerät an Tastatur");
  mFrmUI->Message("Bitte warten, bis Karte eingelesen wurde");
  // The keyboard read blocks; a cancel could not interrupt it.
  mFrmUI->SetCancelEnabled(false);
  mFrmUI->WaitingTime(mWaitingTime);
  mErrNumber = 0;
  // Cleared like mErrNumber: an unreadable card belongs to the read that saw it.
  mCardUnreadable = false;
  mFrmUI->EnableCherryTimer();
  mFrmUI->ShowModal();

  KeyboardReader* keyboard = mFrmUI->CherryKeyboard();
  if (mFrmUI->CherryReturnValue() && keyboard != nullptr) {
    FillFromKeyboard(*keyboard);
    mResult = RV_ReadSuccessful;
  } else if (mErrNumber != 0) {
    // Raised after ReadCard's closing steps, which also take the window down.
    mKVKData = std::make_shared<clsKVKData>();
    throw AutomationError(mErrNumber, mErrSource, mErrDescription);
  } else {
    mResult = mCardUnreadable ? RV_NoCardInserted : RV_Error;
    mKVKData = std::make_shared<clsKVKData>();
  }
  mFrmUI->Unload();
  return static_cast<enmReturnValue>(mResult);
}

void clsApplication::FillFromKeyboard(KeyboardReader& keyboard) {
  mKVKData = std::make_shared<clsKVKData>();
  for (KVKField field : kKeyboardFields) mKVKData->Let(field, keyboard.Field(field));
}

void clsApplication::mFrmUI_KeyboardCherryError(std::int32_t& lngNumber,
                                                std::string& strDescription) {
  if (lngNumber == kCherryCardUnreadable) {
    mCardUnreadable = true;
    return;
  }
  const std::string number = std::to_string(lngNumber);
  LogError(AutomationError(lngNumber, "CherryError", strDescription + "No:" + number),
           "mKeyboard_CherryError", "None");
  // Back into the reader's callback: see the top of this file.
  throw AutomationError(ERR_InCherry, "mKeyboard_CherryError",
                        "Error is trapped in KbdBridge" + number + " " + strDescription);
}

void clsApplication::mFrmUI_KeyboardError(AutomationError& mErr, std::string& strModul,
                                          std::string& strProc, std::string& /*strZusatz*/) {
  LogError(mErr, strProc, "Module: " + strModul);
  throw AutomationError(ERR_InCherry, "mKeyboard_Error", "Error is trapped in KbdBridge");
}

void clsApplication::mFrmUI_mError(AutomationError& mErr, std::string& /*strModul*/,
                                   std::string& /*strProc*/, std::string& /*strZusatz*/) {
  mResult = RV_Error;
  mErrNumber = mErr.Number();
  mErrSource = mErr.Source();
  mErrDescription = mErr.Description();
}

}  // namespace qz
