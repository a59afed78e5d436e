// The Apple Event Manager's calls, types and constants that the restart request
// uses, as Apple documents them (Core Services, AE), for compiling the
// Apple-only sources here. Four-character codes are written as their values.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef long Size;
typedef uint32_t FourCharCode;
typedef FourCharCode DescType;
typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;
typedef int16_t AEReturnID;
typedef int32_t AETransactionID;
typedef int32_t AESendMode;

typedef struct OpaqueAEDataStorageType* AEDataStorageType;
typedef AEDataStorageType* AEDataStorage;
typedef struct AEDesc {
    DescType descriptorType;
    AEDataStorage dataHandle;
} AEDesc;
typedef AEDesc AEAddressDesc;
typedef AEDesc AppleEvent;

enum {
    noErr = 0,
    errAEEventNotPermitted = -1743,
};

enum {
    typeNull = 0x6E756C6C,                 // 'null'
    typeApplicationBundleID = 0x62756E64,  // 'bund'
    kCoreEventClass = 0x61657674,          // 'aevt'
    kAERestart = 0x72657374,               // 'rest'
};

enum {
    kAutoGenerateReturnID = -1,
    kAnyTransactionID = 0,
    kAENoReply = 0x00000001,
    kAEDefaultTimeout = -1,
};

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result);
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc* target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent* result);
OSStatus AESendMessage(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode,
                       long timeOutInTicks);
OSErr AEDisposeDesc(AEDesc* theAEDesc);

#ifdef __cplusplus
}
#endif
