// mFrm_CommandReceived: what a read does next, decided by the command answered and the status
// word of the answer.
#include <cstdio>
#include <string>

#include "app/cls_application.h"
#include "link/frm_comm.h"
#include "ui/frm_kvk_ui.h"

namespace qz {
namespace {

constexpr char kInsertCard[] = "Bitte Karte einführen...";
constexpr char kCardInserted[] = "Karte eingeführt.";
constexpr char kReadingCard[] = "Karte wird gelesen...";
constexpr char kRemoveCard[] = "Karte entnehmen...";

// SW1 * 256 + SW2 as upper-case hex without leading zeros ("9000", "6A82"; 09 00 gives "900").
// An answer too short to carry SW1 SW2 gets a text that matches no status word.
std::string StatusWord(const std::string& sBuffer) {
  if (sBuffer.size() < 2) return "";
  const unsigned sw1 = static_cast<unsigned char>(sBuffer[sBuffer.size() - 2]);
  const unsigned sw2 = static_cast<unsigned char>(sBuffer[sBuffer.size() - 1]);
  char text[8];
  std::snprintf(text, sizeof text, "%X", sw1 * 256 + sw2);
  return text;
}

// Errors the terminal reports for any command (ISO/IEC 7816-4).
bool IsGeneralError(const std::string& sw) {
  return sw == "6700"      // wrong length
         || sw == "6900"   // command not allowed
         || sw == "6A00"   // wrong parameters P1-P2
         || sw == "6D00"   // instruction not supported
         || sw == "6E00";  // class not supported
}

}  // namespace

void clsApplication::EndDialogue() {
  mBusy = false;
  mFrmUI->Unload();  // from code: not a cancel
}

void clsApplication::mFrm_CommandReceived(const std::string& sBuffer, CmdType CMD) {
  const std::string sw = StatusWord(sBuffer);
  mResult = RV_Error;  // every answer starts from failure; the rows below say otherwise
  if (IsGeneralError(sw)) return EndDialogue();

  auto show = [this](const char* text) { mFrmUI->Message(text); };
  auto send = [this](CmdType next) { mFrm->SendCommand(next); };
  auto decode = [this, &sBuffer] {
    // A chain started by Test after a cancelled read has no record left to fill.
    if (!mKVKData) mKVKData = std::make_shared<clsKVKData>();
    mKVKData->DecodeKVK(sBuffer);
  };
  auto no_card = [this, &show, &send] {
    mResult = RV_NoCardInserted;
    // WaitingTime counts the requests in all; the smallest Integer has no predecessor and
    // still means a single request.
    const std::int16_t last =
        mWaitingTime == INT16_MIN ? INT16_MIN : static_cast<std::int16_t>(mWaitingTime - 1);
    if (mNoCardCount >= last) return EndDialogue();
    ++mNoCardCount;
    show(kInsertCard);
    send(CMD_RequestICC);
  };

  // clang-format off
  switch (CMD) {
    case CMD_ResetCT:
      if (sw == "9000")      { show(kInsertCard); send(CMD_RequestICC); }               // reset
      else if (sw == "6400") { EndDialogue(); }                                         // reset failed
      else                   { EndDialogue(); }
      break;
    case CMD_RequestICC:
      if (sw == "9000")      { show(kCardInserted); send(CMD_SelectFile); }             // card there
      else if (sw == "6200") { no_card(); }                                             // no card in time
      else if (sw == "6400") { mResult = RV_WrongCard; EndDialogue(); }                 // card reset failed
      else                   { EndDialogue(); }                                         // "9001" too
      break;
    case CMD_SelectFile:
      if (sw == "9000")      { show(kReadingCard); send(CMD_ReadBinary); }              // selected
      else if (sw == "6A82") { mResult = RV_WrongCard; EndDialogue(); }                 // not found
      else                   { mResult = RV_WrongCard; EndDialogue(); }
      break;
    case CMD_ReadBinary:
      if (sw == "9000")      { mResult = RV_ReadSuccessful; show(kRemoveCard); decode(); send(CMD_EjectICC); }
      else if (sw == "6282") { mResult = RV_ReadSuccessful; show(kRemoveCard); decode(); send(CMD_EjectICC); }  // short file
      else if (sw == "6501") { mResult = RV_CardRemovedDuringReading; EndDialogue(); }  // memory failure
      else if (sw == "6B00") { EndDialogue(); }                                         // wrong offset
      else                   { mResult = RV_CardRemovedDuringReading; EndDialogue(); }
      break;
    case CMD_EjectICC:
      if (sw == "9001")      { mResult = RV_ReadSuccessful; EndDialogue(); }            // card removed
      else if (sw == "6200") { mResult = RV_ReadSuccessful; EndDialogue(); }            // not removed in time
      // Ejected: the card was read, and waiting for a cancel would only lose the record.
      else if (sw == "9000") { mResult = RV_ReadSuccessful; EndDialogue(); }
      else                   { EndDialogue(); }
      break;
    default:  // CMD_Resynch and unknown numbers have no rows
      break;
  }
  // clang-format on
}

}  // namespace qz
