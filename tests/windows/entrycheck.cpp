// Calls each of the plug-in's nine entry points once, as a host calls them,
// for the run under Wine:
//
//   entrycheck DLL   loads DLL; FsGetDefRootName, FsInit, a listing of the
//                    root (FsFindFirst, FsFindNext, FsFindClose), a copy of
//                    its first item (FsGetFile), a deletion of an entry that
//                    is not there (FsDeleteFile), the end of a deletion
//                    (FsStatusInfo) and the about box (FsExecuteFile).
//
// The DLL's MessageBoxA is replaced in its import table by one that writes
// the box's caption and text to stdout, each text line after "| ".
//
// In a 32-bit build every call goes through a thunk that checks what
// stdcall promises the host: the callee takes exactly its prototype's
// argument bytes off the stack, and keeps EBX, ESI, EDI and EBP. Two callees
// of this program that break the promise on purpose must be caught.
//
// Exit status 0 when every call did what it should; otherwise 1, with a
// line starting "FAIL:" for each fault.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

int failures = 0;

void Fail(const std::string& what) {
  std::printf("FAIL: %s\n", what.c_str());
  ++failures;
}

int WINAPI RecordMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  std::string lines = "| ";
  for (const char* c = text; *c != '\0'; ++c) {
    lines += *c == '\r' || *c == '\n' ? std::string("\n| ") : std::string(1, *c);
  }
  std::printf("message box: %s\n%s\n", caption, lines.c_str());
  return IDOK;
}

// Points the module's import of user32's MessageBoxA at RecordMessageBox.
bool CatchMessageBoxes(HMODULE module) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); library->Name != 0; ++library) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + library->Name), "user32.dll") != 0) continue;
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), "MessageBoxA") != 0) continue;
      DWORD access = 0;
      if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &access)) return false;
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordMessageBox);
      return VirtualProtect(slot, sizeof *slot, access, &access) != 0;
    }
  }
  return false;
}

#if defined(__i386__)
// What the thunk saw around one call.
struct CallRecord {
  uint32_t EspBefore, FrameBefore, EspAfter, Ebx, Esi, Edi, Ebp, Result;
};
extern "C" CallRecord CheckedCallRecord;
CallRecord CheckedCallRecord;
// Pushes count arguments (the first last), loads EBX, ESI, EDI and EBP with
// marks, calls the function and records ESP, the four registers and EAX.
// Its own frame comes back from the record, whatever the callee did to ESP.
extern "C" void CheckedCall(const void* function, const uintptr_t* arguments, uint32_t count);
asm(R"(
  .text
  .globl _CheckedCall
_CheckedCall:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %edx
  movl 16(%ebp), %ecx
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%edx,%ecx,4)
  jmp 1b
2:
  movl %esp, _CheckedCallRecord
  movl %ebp, _CheckedCallRecord+4
  movl 8(%ebp), %eax
  movl $0xB0B0B0B0, %ebx
  movl $0x51515151, %esi
  movl $0xD1D1D1D1, %edi
  movl $0xEBEBEBEB, %ebp
  call *%eax
  movl %esp, _CheckedCallRecord+8
  movl %ebx, _CheckedCallRecord+12
  movl %esi, _CheckedCallRecord+16
  movl %edi, _CheckedCallRecord+20
  movl %ebp, _CheckedCallRecord+24
  movl %eax, _CheckedCallRecord+28
  movl _CheckedCallRecord+4, %ebp
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

// The callees that break stdcall's promise: one is called below as if it
// took three arguments, one changes ESI.
extern "C" int __stdcall TakesTwo(int first, int second) { return first + second; }
extern "C" void ChangesEsi();
asm(R"(
  .text
  .globl _ChangesEsi
_ChangesEsi:
  movl $0, %esi
  ret
)");

// The faults of the last call: "" when it kept stdcall's promise.
std::string StackFaults(size_t count) {
  const CallRecord& call = CheckedCallRecord;
  std::string faults;
  uint32_t popped = call.EspAfter - call.EspBefore;
  if (popped != 4 * count) {
    faults += " took " + std::to_string(static_cast<int32_t>(popped)) + " bytes off the stack, not " +
              std::to_string(4 * count) + ";";
  }
  if (call.Ebx != 0xB0B0B0B0) faults += " changed EBX;";
  if (call.Esi != 0x51515151) faults += " changed ESI;";
  if (call.Edi != 0xD1D1D1D1) faults += " changed EDI;";
  if (call.Ebp != 0xEBEBEBEB) faults += " changed EBP;";
  return faults;
}

intptr_t Call(const char* name, const void* function, std::initializer_list<uintptr_t> arguments) {
  CheckedCall(function, arguments.begin(), static_cast<uint32_t>(arguments.size()));
  std::string faults = StackFaults(arguments.size());
  if (faults.empty()) {
    std::printf("stack: %s takes %u bytes and keeps EBX, ESI, EDI and EBP\n", name,
                static_cast<unsigned>(4 * arguments.size()));
  } else {
    Fail(std::string(name) + ":" + faults);
  }
  return static_cast<int32_t>(CheckedCallRecord.Result);
}

// The thunk must see both faults, or its passes prove nothing.
void CheckTheThunk() {
  uintptr_t three[] = {1, 2, 3};
  CheckedCall(reinterpret_cast<const void*>(&TakesTwo), three, 3);
  if (StackFaults(3).find("took 8 bytes") == std::string::npos) {
    Fail("the thunk missed a callee of the wrong prototype");
  }
  CheckedCall(reinterpret_cast<const void*>(&ChangesEsi), nullptr, 0);
  if (StackFaults(0) != " changed ESI;") Fail("the thunk missed a callee that changes ESI");
  if (failures == 0) std::printf("stack: the thunk catches a wrong prototype and a changed ESI\n");
}
#else
// In a 64-bit build every argument travels in a register of its own: each
// entry point takes at most four, of at most 64 bits.
intptr_t Call(const char*, const void* function, std::initializer_list<uintptr_t> arguments) {
  uintptr_t a[4] = {};
  std::copy(arguments.begin(), arguments.end(), a);
  using AnyFour = intptr_t(WINAPI*)(uintptr_t, uintptr_t, uintptr_t, uintptr_t);
  return static_cast<int32_t>(reinterpret_cast<AnyFour>(const_cast<void*>(function))(a[0], a[1], a[2], a[3]));
}
void CheckTheThunk() {}
#endif

uintptr_t Arg(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

class EntryPoints {
 public:
  explicit EntryPoints(HMODULE module) : module_(module) {}
  intptr_t operator()(const char* name, std::initializer_list<uintptr_t> arguments) const {
    FARPROC function = GetProcAddress(module_, name);
    if (function == nullptr) {
      Fail(std::string(name) + " is not exported");
      return 0;
    }
    return Call(name, reinterpret_cast<const void*>(function), arguments);
  }

 private:
  HMODULE module_;
};

void Expect(bool holds, const std::string& what) {
  if (!holds) Fail(what);
}

// A listing of the root; the name of its first item.
std::string ListRoot(const EntryPoints& call) {
  WIN32_FIND_DATAA item{};
  intptr_t handle = call("FsFindFirst", {Arg("\\"), Arg(&item)});
  Expect(handle >= 1 && handle <= 50, "FsFindFirst on the root gave handle " + std::to_string(handle));
  std::string first = item.cFileName;
  WIN32_FIND_DATAA next{};
  Expect(call("FsFindNext", {static_cast<uintptr_t>(handle), Arg(&next)}) == -1, "FsFindNext found no second item");
  Expect(call("FsFindClose", {static_cast<uintptr_t>(handle)}) == 0, "FsFindClose did not give 0");
  return first;
}

void CopyOut(const EntryPoints& call, const std::string& name) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  std::string target = std::string(folder) + "entrycheck-copy.bin";
  std::string remote = "\\" + name;
  char info[64] = {};
  Expect(call("FsGetFile", {Arg(remote.c_str()), Arg(target.c_str()), 1, Arg(info)}) == 0,
         "FsGetFile of " + remote + " failed");
  Expect(GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES, "FsGetFile wrote no " + target);
  DeleteFileA(target.c_str());
}

void CallAll(const EntryPoints& call) {
  char root[32] = {};
  call("FsGetDefRootName", {Arg(root), sizeof root});
  Expect(std::strcmp(root, "Trovex") == 0, std::string("FsGetDefRootName gave ") + root);
  Expect(call("FsInit", {1, 0, 0, 0}) == 0, "FsInit did not give 0");
  CopyOut(call, ListRoot(call));
  // Nothing to delete: the call is here for its stack.
  call("FsDeleteFile", {Arg("\\example.invalid\\none.example.invalid\\http://none.example.invalid/")});
  call("FsStatusInfo", {Arg("\\"), 1, 8});
  char path[MAX_PATH] = "\\";
  Expect(call("FsExecuteFile", {0, Arg(path), Arg("properties")}) == 0, "FsExecuteFile properties did not give 0");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: entrycheck DLL\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::printf("FAIL: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  CheckTheThunk();
  if (!CatchMessageBoxes(module)) Fail("the DLL imports no MessageBoxA to catch");
  CallAll(EntryPoints(module));
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
