// Exits with the number of handles held by the process that started it: a script host learns
// its own count as the exit status that WScript.Shell's Run hands back. Wine 8 answers
// GetProcessHandleCount with 0, so the system's handle list is counted by owner; 0 when that
// cannot be read. "handle_count leak N" first gives the parent N handles it never closes.
#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

DWORD ParentId() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent;
}

int HandlesOf(DWORD pid) {
  std::vector<char> buffer(1 << 16);
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), nullptr)) ==
         static_cast<NTSTATUS>(0xC0000004L))  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  if (status != 0) return 0;
  const auto* info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
  int count = 0;
  for (ULONG i = 0; i < info->Count; ++i) count += info->Handle[i].OwnerPid == pid ? 1 : 0;
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD parent = ParentId();
  if (argc == 3 && std::strcmp(argv[1], "leak") == 0) {
    HANDLE target = OpenProcess(PROCESS_DUP_HANDLE, FALSE, parent);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int i = std::atoi(argv[2]); i > 0; --i) {
      HANDLE copy;
      DuplicateHandle(GetCurrentProcess(), event, target, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    }
  }
  return HandlesOf(parent);
}
