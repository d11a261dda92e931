#include "common/numbers.h"
#include "svf/interpreter.h"

namespace tavrin::svf {

void Interpreter::ExecuteScanStatement(const std::vector<std::string>& words) {
  const bool ir = words[0] == "SIR";
  engine_.MoveToState(ir ? "IRSHIFT" : "DRSHIFT");
  const std::string end_state = ir ? EndIrState : EndDrState;

  // Each keyword takes the next word without its first and last characters
  // (the parentheses); a later keyword of the same name wins.
  std::string tdi;
  std::string smask;
  std::string tdo;
  std::string mask;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string* target = nullptr;
    if (words[i] == "TDI") target = &tdi;
    else if (words[i] == "SMASK") target = &smask;
    else if (words[i] == "TDO") target = &tdo;
    else if (words[i] == "MASK") target = &mask;
    if (target == nullptr) continue;
    if (i + 1 >= words.size() || words[i + 1].size() < 2) {
      BailOut("Uh Oh, " + words[i] + " has no value in parentheses.  Bailing Out");
      return;
    }
    const std::string& value = words[i + 1];
    target->assign(value, 1, value.size() - 2);
  }

  if (!smask.empty()) tdi = MaskHexDigits(smask, tdi, tdi.size());

  if (words.size() < 2) {
    BailOut("Uh Oh, " + words[0] + " is missing its length.  Bailing Out");
    return;
  }
  const auto length = RoundToInt32(ParseNumber(words[1]));
  if (!length || *length > max_scan_bits) {
    BailOut("Uh Oh, a scan of " + words[1].substr(0, 40) + " bits is more than I can shift.  Bailing Out");
    return;
  }

  std::string captured = engine_.ShiftBits(end_state, *length, tdi);
  window_.AppendLog("Sent: " + tdi);
  window_.AppendLog("Got: " + captured);

  if (tdo.empty() || mask.empty()) return;
  if (captured.size() < tdo.size()) captured.insert(0, tdo.size() - captured.size(), '0');
  const std::string expected = MaskHexDigits(tdo, mask, mask.size());
  const std::string result = MaskHexDigits(captured, mask, mask.size());
  window_.AppendLogNoBreak("Masked Expectation: " + expected + ", Masked Result: " + result);
  if (expected == result) {
    window_.AppendLog(" Pass!");
  } else {
    window_.AppendLog(" Fail!  Bailing out...");
    flags_.StopRequested = kTrue;
  }
}

}  // namespace tavrin::svf
