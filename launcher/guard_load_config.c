/* Linked into every program of ours that clang and lld build with Control Flow Guard
   (cmake/QuorlRelease.cmake), where the mingw-w64 runtime brings no support for it.
   Instrumented code calls every function pointer through __guard_dispatch_icall_fptr,
   and Windows finds the guard's table and its two pointers through the image's load
   configuration, _load_config_used, which the linker points the PE header at. On a
   Windows that enforces the guard, its loader replaces both pointers with its own
   checkers; elsewhere (Windows 7, Wine) the defaults below just make the call. */

#include <stddef.h>
#include <windows.h>

/* Defined by lld under /guard:cf: addresses of the tables it writes, and values (the
   counts and flags) as absolute symbols, which a relocation turns into the number. */
extern const char __guard_fids_table[], __guard_fids_count[], __guard_flags[];
extern const char __guard_iat_table[], __guard_iat_count[];
extern const char __guard_longjmp_table[], __guard_longjmp_count[];
extern const char __guard_eh_cont_table[], __guard_eh_cont_count[];

#if defined(QUORL_RUNTIME_GUARD_POINTERS)
/* mingw-w64 12 brings the two pointers, but no load configuration to name them. */
extern void (*const __guard_check_icall_fptr)(void);
extern void (*const __guard_dispatch_icall_fptr)(void);
#else
/* The check function receives the target in rcx and returns to let the call go on. */
static void CheckIndirectCall(void) {}

/* The dispatch function receives the target in rax and is to jump to it. */
__attribute__((naked)) static void DispatchIndirectCall(void) {
    __asm__("jmp *%rax");
}

/* In .00cfg, where Windows' loader looks for the pointers it replaces. */
__attribute__((section(".00cfg"))) void (*const __guard_check_icall_fptr)(void) = CheckIndirectCall;
__attribute__((section(".00cfg"))) void (*const __guard_dispatch_icall_fptr)(void) =
    DispatchIndirectCall;
#endif

/* IMAGE_LOAD_CONFIG_DIRECTORY64 as Microsoft documents it; the mingw-w64 headers know
   it only up to SEHandlerCount. Every field but the guard's is zero: the defaults. */
typedef struct {
    DWORD Size;
    DWORD TimeDateStamp;
    WORD MajorVersion;
    WORD MinorVersion;
    DWORD GlobalFlagsClear;
    DWORD GlobalFlagsSet;
    DWORD CriticalSectionDefaultTimeout;
    ULONGLONG DeCommitFreeBlockThreshold;
    ULONGLONG DeCommitTotalFreeThreshold;
    ULONGLONG LockPrefixTable;
    ULONGLONG MaximumAllocationSize;
    ULONGLONG VirtualMemoryThreshold;
    ULONGLONG ProcessAffinityMask;
    DWORD ProcessHeapFlags;
    WORD CSDVersion;
    WORD DependentLoadFlags;
    ULONGLONG EditList;
    ULONGLONG SecurityCookie;
    ULONGLONG SEHandlerTable;
    ULONGLONG SEHandlerCount;
    ULONGLONG GuardCFCheckFunctionPointer;
    ULONGLONG GuardCFDispatchFunctionPointer;
    ULONGLONG GuardCFFunctionTable;
    ULONGLONG GuardCFFunctionCount;
    /* GuardFlags (a DWORD) and the first half of CodeIntegrity (its Flags and Catalog,
       both zero) as one field: C sets a symbol's value only into a field as wide as an
       address, and the flags fit in the low, first half of it. */
    ULONGLONG GuardFlagsAndCodeIntegrityFlags;
    DWORD CodeIntegrityCatalogOffset;
    DWORD CodeIntegrityReserved;
    ULONGLONG GuardAddressTakenIatEntryTable;
    ULONGLONG GuardAddressTakenIatEntryCount;
    ULONGLONG GuardLongJumpTargetTable;
    ULONGLONG GuardLongJumpTargetCount;
    ULONGLONG DynamicValueRelocTable;
    ULONGLONG CHPEMetadataPointer;
    ULONGLONG GuardRFFailureRoutine;
    ULONGLONG GuardRFFailureRoutineFunctionPointer;
    DWORD DynamicValueRelocTableOffset;
    WORD DynamicValueRelocTableSection;
    WORD Reserved2;
    ULONGLONG GuardRFVerifyStackPointerFunctionPointer;
    DWORD HotPatchTableOffset;
    DWORD Reserved3;
    ULONGLONG EnclaveConfigurationPointer;
    ULONGLONG VolatileMetadataPointer;
    ULONGLONG GuardEHContinuationTable;
    ULONGLONG GuardEHContinuationCount;
    ULONGLONG GuardXFGCheckFunctionPointer;
    ULONGLONG GuardXFGDispatchFunctionPointer;
    ULONGLONG GuardXFGTableDispatchFunctionPointer;
    ULONGLONG CastGuardOsDeterminedFailureMode;
    ULONGLONG GuardMemcpyFunctionPointer;
} CLoadConfig;

_Static_assert(offsetof(CLoadConfig, GuardFlagsAndCodeIntegrityFlags) == 0x90,
               "GuardFlags lies at 0x90 of the 64-bit load configuration");
_Static_assert(sizeof(CLoadConfig) == 0x140, "the 64-bit load configuration has 0x140 bytes");

const CLoadConfig _load_config_used = {
    .Size = sizeof(CLoadConfig),
    .GuardCFCheckFunctionPointer = (ULONGLONG)&__guard_check_icall_fptr,
    .GuardCFDispatchFunctionPointer = (ULONGLONG)&__guard_dispatch_icall_fptr,
    .GuardCFFunctionTable = (ULONGLONG)__guard_fids_table,
    .GuardCFFunctionCount = (ULONGLONG)__guard_fids_count,
    .GuardFlagsAndCodeIntegrityFlags = (ULONGLONG)__guard_flags,
    .GuardAddressTakenIatEntryTable = (ULONGLONG)__guard_iat_table,
    .GuardAddressTakenIatEntryCount = (ULONGLONG)__guard_iat_count,
    .GuardLongJumpTargetTable = (ULONGLONG)__guard_longjmp_table,
    .GuardLongJumpTargetCount = (ULONGLONG)__guard_longjmp_count,
    .GuardEHContinuationTable = (ULONGLONG)__guard_eh_cont_table,
    .GuardEHContinuationCount = (ULONGLONG)__guard_eh_cont_count,
};
