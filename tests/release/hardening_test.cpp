// The DLL's hardening at run time, in a process that loads it: the stack canary the loader
// replaces, compiled functions that check it, and Control Flow Guard checked by a dispatcher of
// the test's own in the slot where Windows installs the system's.
#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "family_calls.h"
#include "import_hook.h"
#include "pe_image.h"
#include "seh.h"

namespace {

constexpr std::uint64_t defaultCookie = 0x00002B992DDFA232;
constexpr jint currentUser = -2147483647;
// Instrumented, with a function table, and nothing else: no long-jump table.
constexpr DWORD guardFlags = 0x100 | 0x400;

// The canary that compiled functions check, found by its symbol in the PDB. Where the library
// brings its own load configuration, that names it too, and the loader replaces its default.
std::uint64_t* canary(const jnitest::Library& library) {
    HANDLE process = GetCurrentProcess();
    SymSetOptions(SYMOPT_FAIL_CRITICAL_ERRORS);
    EXPECT_TRUE(SymInitialize(process, nullptr, FALSE));
    char path[MAX_PATH] = {};
    GetModuleFileNameA(library.handle(), path, MAX_PATH);
    SymLoadModuleEx(process, nullptr, path, nullptr, reinterpret_cast<DWORD64>(library.handle()), 0,
                    nullptr, 0);
    SYMBOL_INFO symbol{};
    symbol.SizeOfStruct = sizeof symbol;
    EXPECT_TRUE(SymFromName(process, "__stack_chk_guard", &symbol)) << GetLastError();
    SymCleanup(process);
    auto* found = reinterpret_cast<std::uint64_t*>(symbol.Address);
    ULONGLONG named = jnitest::loadConfig(library.handle())->securityCookie;
    EXPECT_TRUE(named == 0 || named == symbol.Address) << "the load configuration names another";
    return found;
}

// Printed for the comparison between processes.
void expectDrawn(const jnitest::Library& library) {
    std::uint64_t* value = canary(library);
    ASSERT_NE(value, nullptr);
    EXPECT_NE(*value, defaultCookie);
    std::printf("canary 0x%016" PRIx64 "\n", *value);
}

TEST(StackCanary, DiffersFromTheDefault) {
    jnitest::Library library;
    expectDrawn(library);
}

// The start-up code, linked with an initialiser that sets the canary as the C runtime's does
// where it brings its own, loads: no protected frame is live across the change.
TEST(StackCanary, SetByAnInitialiserWhileLoadingLeavesTheLoadWhole) {
    HMODULE module = LoadLibraryA("canary_startup.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_TRUE(FreeLibrary(module));
}

std::uint64_t* changedCanary;

LSTATUS WINAPI changingCanaryQuery(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
    *changedCanary ^= 1;
    return ERROR_FILE_NOT_FOUND;
}

// Where the processor has no fail-fast interrupt (before Windows 8) the failure routine
// terminates the process itself, with the status of a failed check.
bool fastFailAvailable = true;
BOOL WINAPI answeringFeatureQuery(DWORD feature) {
    return feature == PF_FASTFAIL_AVAILABLE ? fastFailAvailable
                                            : IsProcessorFeaturePresent(feature);
}
constexpr UINT terminatedAsAsked = 0x7E57;
BOOL WINAPI checkingTerminateProcess(HANDLE process, UINT code) {
    bool asked = process == GetCurrentProcess() && code == STATUS_STACK_BUFFER_OVERRUN;
    return TerminateProcess(process, asked ? terminatedAsAsked : 1);
}

TEST(StackCanary, FrameLeftAfterTheCanaryChangedEndsTheProcess) {
    for (bool available : {true, false}) {
        DWORD expected = available ? STATUS_STACK_BUFFER_OVERRUN : terminatedAsAsked;
        auto ended = [expected](int code) { return static_cast<DWORD>(code) == expected; };
        EXPECT_EXIT(
            {
                jnitest::Library library;
                changedCanary = canary(library);
                fastFailAvailable = available;
                jnitest::ImportHook query(library.handle(), "ADVAPI32.dll", "RegQueryValueExW",
                                          &changingCanaryQuery);
                jnitest::ImportHook feature(library.handle(), "KERNEL32.dll",
                                            "IsProcessorFeaturePresent", &answeringFeatureQuery);
                jnitest::ImportHook terminate(library.handle(), "KERNEL32.dll", "TerminateProcess",
                                              &checkingTerminateProcess);
                jnitest::JniHost host;
                auto get =
                    library.fn(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue,
                               "Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue");
                host.call(get, currentUser, host.string("Software"), host.string("absent"));
                std::exit(0);
            },
            ended, "")
            << (available ? "fail-fast interrupt" : "no fail-fast interrupt");
    }
}

// The module's guard function table, and what the dispatcher below saw while installed.
// The RVAs of a guard function table at `table`, sorted: entries of 4 bytes and the number of
// extra bytes GuardFlags gives in its top four bits.
std::vector<DWORD> guardTableRvas(const BYTE* table, const jnitest::LoadConfig64& config) {
    const std::size_t stride = 4 + ((config.guardFlags & 0xF0000000u) >> 28);
    std::vector<DWORD> rvas;
    for (ULONGLONG i = 0; i < config.guardFunctionCount; ++i, table += stride) {
        rvas.push_back(*reinterpret_cast<const DWORD*>(table));
    }
    std::sort(rvas.begin(), rvas.end());
    return rvas;
}

struct GuardTable {
    explicit GuardTable(HMODULE module)
        : base(reinterpret_cast<std::uintptr_t>(module)),
          end(base + jnitest::ntHeaders(module)->OptionalHeader.SizeOfImage),
          rvas(guardTableRvas(
              reinterpret_cast<const BYTE*>(jnitest::loadConfig(module)->guardFunctionTable),
              *jnitest::loadConfig(module))) {}
    bool lists(std::uintptr_t address) const {
        return std::binary_search(rvas.begin(), rvas.end(), static_cast<DWORD>(address - base));
    }

    std::uintptr_t base;
    std::uintptr_t end;
    std::vector<DWORD> rvas;
    int callsInside = 0;
    std::vector<std::uintptr_t> unlisted;
};

GuardTable* checkedTable;

}  // namespace

// Called by the dispatcher with the target of an instrumented indirect call.
extern "C" void checkGuardTarget(std::uintptr_t target) {
    if (target >= checkedTable->base && target < checkedTable->end) {
        ++checkedTable->callsInside;
        if (!checkedTable->lists(target)) {
            checkedTable->unlisted.push_back(target);
        }
    }
}

// Like the system's dispatcher: checks the target in RAX, then jumps to it with the argument
// registers (RCX, RDX, R8, R9, XMM0-XMM3) and R10, R11 as they came.
extern "C" void checkingGuardDispatch();
asm(R"(
    .text
    .globl checkingGuardDispatch
checkingGuardDispatch:
    push %rax
    push %rcx
    push %rdx
    push %r8
    push %r9
    push %r10
    push %r11
    sub $0x60, %rsp
    movdqu %xmm0, 0x20(%rsp)
    movdqu %xmm1, 0x30(%rsp)
    movdqu %xmm2, 0x40(%rsp)
    movdqu %xmm3, 0x50(%rsp)
    mov %rax, %rcx
    call checkGuardTarget
    movdqu 0x20(%rsp), %xmm0
    movdqu 0x30(%rsp), %xmm1
    movdqu 0x40(%rsp), %xmm2
    movdqu 0x50(%rsp), %xmm3
    add $0x60, %rsp
    pop %r11
    pop %r10
    pop %r9
    pop %r8
    pop %rdx
    pop %rcx
    pop %rax
    jmp *%rax
)");

namespace {

// Puts checkingGuardDispatch in the module's read-only dispatch slot, as the loader puts the
// system's there, and the image's own back afterwards.
class InstalledDispatcher {
public:
    InstalledDispatcher(HMODULE module, GuardTable& table)
        : slot_(
              reinterpret_cast<void**>(jnitest::loadConfig(module)->guardDispatchFunctionPointer)),
          original_(*slot_) {
        checkedTable = &table;
        write(reinterpret_cast<void*>(&checkingGuardDispatch));
    }
    ~InstalledDispatcher() { write(original_); }
    InstalledDispatcher(const InstalledDispatcher&) = delete;
    InstalledDispatcher& operator=(const InstalledDispatcher&) = delete;

private:
    void write(void* value) {
        DWORD protection = 0;
        ASSERT_TRUE(VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection));
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }

    void** slot_;
    void* original_;
};

HANDLE WINAPI raisingCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                 HANDLE) {
    jnitest::raiseTestException();
}

TEST(ControlFlowGuard, LoadConfigurationHoldsTheGuardPointersAndTable) {
    jnitest::Library library;
    const jnitest::LoadConfig64* config = jnitest::loadConfig(library.handle());
    GuardTable table(library.handle());
    EXPECT_EQ(config->guardFlags & 0x0FFFFFFFu, guardFlags);
    EXPECT_EQ(config->dependentLoadFlags, LOAD_LIBRARY_SEARCH_SYSTEM32);
    for (ULONGLONG pointer :
         {config->guardCheckFunctionPointer, config->guardDispatchFunctionPointer}) {
        EXPECT_GE(pointer, table.base);
        EXPECT_LT(pointer, table.end);
    }
    for (const std::string& name : jnitest::exportNames(library.handle())) {
        auto address =
            reinterpret_cast<std::uintptr_t>(GetProcAddress(library.handle(), name.c_str()));
        EXPECT_TRUE(table.lists(address)) << name << " is missing from the guard table";
    }
}

// The shipped file as the loader reads it before mapping it: headers, sections, and what an
// address inside the image holds in the file.
class ImageFile {
public:
    explicit ImageFile(const char* path)
        : bytes_(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()),
                 std::istreambuf_iterator<char>()) {}

    bool read() const { return bytes_.size() > sizeof(IMAGE_DOS_HEADER); }
    const IMAGE_NT_HEADERS64& headers() const {
        return at<IMAGE_NT_HEADERS64>(at<IMAGE_DOS_HEADER>(0).e_lfanew);
    }
    const IMAGE_DATA_DIRECTORY& directory(int index) const {
        return headers().OptionalHeader.DataDirectory[index];
    }
    // The object at a relative virtual address, found through the section that holds it.
    template <typename T>
    const T& atRva(DWORD rva) const {
        const auto* section = IMAGE_FIRST_SECTION(&headers());
        for (WORD i = 0; i < headers().FileHeader.NumberOfSections; ++i, ++section) {
            if (rva >= section->VirtualAddress &&
                rva - section->VirtualAddress < section->SizeOfRawData) {
                return at<T>(section->PointerToRawData + (rva - section->VirtualAddress));
            }
        }
        ADD_FAILURE() << "no section holds RVA 0x" << std::hex << rva;
        return at<T>(0);
    }
    DWORD rvaOf(ULONGLONG address) const {
        return static_cast<DWORD>(address - headers().OptionalHeader.ImageBase);
    }
    template <typename T>
    T& editAtRva(DWORD rva) {
        return const_cast<T&>(atRva<T>(rva));
    }
    bool save(const std::string& path) const {
        std::ofstream file(path, std::ios::binary);
        return static_cast<bool>(
            file.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size())));
    }

private:
    template <typename T>
    const T& at(std::size_t offset) const {
        return *reinterpret_cast<const T*>(bytes_.data() + offset);
    }
    std::vector<char> bytes_;
};

// The functions the loader calls through its guard dispatch, in a process that enforces Control
// Flow Guard, are the entry point and each TLS callback: each must be in the guard table.
TEST(ControlFlowGuard, EveryLoaderCallTargetInTheFileIsListed) {
    ImageFile image("ulvexwin64.dll");
    ASSERT_TRUE(image.read());
    const auto& config = image.atRva<jnitest::LoadConfig64>(
        image.directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG).VirtualAddress);
    const std::vector<DWORD> listed =
        guardTableRvas(&image.atRva<BYTE>(image.rvaOf(config.guardFunctionTable)), config);
    std::vector<std::pair<std::string, DWORD>> targets = {
        {"entry point", image.headers().OptionalHeader.AddressOfEntryPoint}};
    const IMAGE_DATA_DIRECTORY& tls = image.directory(IMAGE_DIRECTORY_ENTRY_TLS);
    if (tls.VirtualAddress != 0) {
        const auto& directory = image.atRva<IMAGE_TLS_DIRECTORY64>(tls.VirtualAddress);
        for (const auto* callback =
                 &image.atRva<ULONGLONG>(image.rvaOf(directory.AddressOfCallBacks));
             *callback != 0; ++callback) {
            targets.emplace_back("TLS callback", image.rvaOf(*callback));
        }
    }
    for (const auto& [kind, rva] : targets) {
        bool found = std::binary_search(listed.begin(), listed.end(), rva);
        std::printf("%s at +0x%lx: %s\n", kind.c_str(), rva, found ? "listed" : "not listed");
        EXPECT_TRUE(found) << kind << " at +0x" << std::hex << rva << " is not a guard target";
    }
}

// A copy of the DLL whose load configuration names no cookie, so that no loader sets the
// canary: the library draws it itself. The copy sits beside its PDB, where the symbol is found.
TEST(StackCanary, DrawnByTheLibraryWhereNoLoaderSetsIt) {
    ImageFile image("ulvexwin64.dll");
    ASSERT_TRUE(image.read());
    image
        .editAtRva<jnitest::LoadConfig64>(
            image.directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG).VirtualAddress)
        .securityCookie = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string directory =
        std::string(temp) + "ulvex-no-cookie-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    std::string copy = directory + "\\ulvexwin64.dll";
    std::string pdb = directory + "\\ulvexwin64.pdb";
    ASSERT_TRUE(image.save(copy));
    ASSERT_TRUE(CopyFileA("ulvexwin64.pdb", pdb.c_str(), FALSE));
    {
        jnitest::Library library(copy.c_str());
        EXPECT_EQ(jnitest::loadConfig(library.handle())->securityCookie, 0u);
        expectDrawn(library);
    }
    DeleteFileA(copy.c_str());
    DeleteFileA(pdb.c_str());
    RemoveDirectoryA(directory.c_str());
}

TEST(ControlFlowGuard, EveryIndirectCallIntoTheLibraryLandsOnAListedFunction) {
    jnitest::Library library;
    GuardTable table(library.handle());
    FamilyData data;
    {
        InstalledDispatcher dispatcher(library.handle(), table);
        for (const FamilyCall& call : familyCalls) {
            jnitest::JniHost host;
            EXPECT_EQ(call.call(library, host), Outcome::succeeded) << call.name;
        }
        jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "CreateFileW",
                                 &raisingCreateFileW);
        jnitest::JniHost host;
        auto createFile =
            library.fn(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile,
                       "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile");
        EXPECT_TRUE(jnitest::catchesStructuredException(
            [&] { host.call(createFile, host.string("\\\\.\\pipe\\ulvex-guard"), 0); }));
    }
    EXPECT_GT(table.callsInside, 0) << "no indirect call into the library was checked";
    EXPECT_TRUE(table.unlisted.empty()) << table.unlisted.size() << " calls to unlisted targets";
}

}  // namespace
