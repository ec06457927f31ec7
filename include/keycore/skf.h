/* keycore: the smart-key (SKF) interface of libkeycore for C and C++ applications.
 *
 * Every function returns a 32-bit result code (SAR_OK on success). Handles are opaque values issued by
 * the library; a value the library did not issue, or one already closed, is answered with
 * SAR_INVALIDHANDLEERR. Structures are byte-packed and their integers are in host byte order.
 *
 * Build:  cc app.c -I<keycore>/include -L<keycore>/build/bin -lkeycore
 */
#ifndef KEYCORE_SKF_H
#define KEYCORE_SKF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- scalar types ---- */
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t FLAGS;
typedef CHAR* LPSTR;
typedef void* HANDLE;
typedef HANDLE DEVHANDLE;
typedef HANDLE HAPPLICATION;
typedef HANDLE HCONTAINER;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* ---- sizes of the fixed fields ---- */
#define MAX_RSA_MODULUS_LEN 256
#define MAX_RSA_EXPONENT_LEN 4
#define ECC_MAX_XCOORDINATE_BITS_LEN 512
#define ECC_MAX_YCOORDINATE_BITS_LEN 512
#define ECC_MAX_MODULUS_BITS_LEN 512
#define MAX_IV_LEN 32

/* ---- algorithm identifiers ---- */
#define SGD_SM1_ECB 0x00000101
#define SGD_SM1_CBC 0x00000102
#define SGD_SM1_CFB 0x00000104
#define SGD_SM1_OFB 0x00000108
#define SGD_SM1_MAC 0x00000110
#define SGD_SSF33_ECB 0x00000201
#define SGD_SSF33_CBC 0x00000202
#define SGD_SSF33_CFB 0x00000204
#define SGD_SSF33_OFB 0x00000208
#define SGD_SSF33_MAC 0x00000210
#define SGD_SM4_ECB 0x00000401
#define SGD_SM4_CBC 0x00000402
#define SGD_SM4_CFB 0x00000404
#define SGD_SM4_OFB 0x00000408
#define SGD_SM4_MAC 0x00000410
#define SGD_RSA 0x00010000
#define SGD_SM2_1 0x00020100
#define SGD_SM2_2 0x00020200
#define SGD_SM2_3 0x00020400
#define SGD_SM3 0x00000001
#define SGD_SHA1 0x00000002
#define SGD_SHA256 0x00000004

/* ---- device states and events ---- */
#define DEV_ABSENT_STATE 0x00000000
#define DEV_PRESENT_STATE 0x00000001
#define DEV_UNKNOW_STATE 0x00000002

/* ---- PIN types and access rights ---- */
#define ADMIN_TYPE 0
#define USER_TYPE 1
#define SECURE_NEVER_ACCOUNT 0x00000000
#define SECURE_ADM_ACCOUNT 0x00000001
#define SECURE_USER_ACCOUNT 0x00000010
#define SECURE_ANYONE_ACCOUNT 0x000000FF

/* ---- result codes ---- */
#define SAR_OK 0x00000000
#define SAR_FAIL 0x0A000001
#define SAR_UNKNOWNERR 0x0A000002
#define SAR_NOTSUPPORTYETERR 0x0A000003
#define SAR_FILEERR 0x0A000004
#define SAR_INVALIDHANDLEERR 0x0A000005
#define SAR_INVALIDPARAMERR 0x0A000006
#define SAR_READFILEERR 0x0A000007
#define SAR_WRITEFILEERR 0x0A000008
#define SAR_NAMELENERR 0x0A000009
#define SAR_KEYUSAGEERR 0x0A00000A
#define SAR_MODULUSLENERR 0x0A00000B
#define SAR_NOTINITIALIZEERR 0x0A00000C
#define SAR_OBJERR 0x0A00000D
#define SAR_MEMORYERR 0x0A00000E
#define SAR_TIMEOUTERR 0x0A00000F
#define SAR_INDATALENERR 0x0A000010
#define SAR_INDATAERR 0x0A000011
#define SAR_GENRANDERR 0x0A000012
#define SAR_HASHOBJERR 0x0A000013
#define SAR_HASHERR 0x0A000014
#define SAR_GENRSAKEYERR 0x0A000015
#define SAR_RSAMODULUSLENERR 0x0A000016
#define SAR_CSPIMPRTPUBKEYERR 0x0A000017
#define SAR_RSAENCERR 0x0A000018
#define SAR_RSADECERR 0x0A000019
#define SAR_HASHNOTEQUALERR 0x0A00001A
#define SAR_KEYNOTFOUNTERR 0x0A00001B
#define SAR_CERTNOTFOUNTERR 0x0A00001C
#define SAR_NOTEXPORTERR 0x0A00001D
#define SAR_DECRYPTPADERR 0x0A00001E
#define SAR_MACLENERR 0x0A00001F
#define SAR_BUFFER_TOO_SMALL 0x0A000020
#define SAR_KEYINFOTYPEERR 0x0A000021
#define SAR_NOT_EVENTERR 0x0A000022
#define SAR_DEVICE_REMOVED 0x0A000023
#define SAR_PIN_INCORRECT 0x0A000024
#define SAR_PIN_LOCKED 0x0A000025
#define SAR_PIN_INVALID 0x0A000026
#define SAR_PIN_LEN_RANGE 0x0A000027
#define SAR_USER_ALREADY_LOGGED_IN 0x0A000028
#define SAR_USER_PIN_NOT_INITIALIZED 0x0A000029
#define SAR_USER_TYPE_INVALID 0x0A00002A
#define SAR_APPLICATION_NAME_INVALID 0x0A00002B
#define SAR_APPLICATION_EXISTS 0x0A00002C
#define SAR_USER_NOT_LOGGED_IN 0x0A00002D
#define SAR_APPLICATION_NOT_EXISTS 0x0A00002E
#define SAR_FILE_ALREADY_EXIST 0x0A00002F
#define SAR_NO_ROOM 0x0A000030
#define SAR_FILE_NOT_EXIST 0x0A000031

/* ---- structures (byte-packed) ---- */
#pragma pack(push, 1)

typedef struct Struct_Version {
    BYTE major;
    BYTE minor;
} VERSION;

typedef struct Struct_DEVINFO {
    VERSION Version;
    CHAR Manufacturer[64];
    CHAR Issuer[64];
    CHAR Label[32];
    CHAR SerialNumber[32];
    VERSION HWVersion;
    VERSION FirmwareVersion;
    ULONG AlgSymCap;
    ULONG AlgAsymCap;
    ULONG AlgHashCap;
    ULONG DevAuthAlgId;
    ULONG TotalSpace;
    ULONG FreeSpace;
    ULONG MaxECCBufferSize;
    ULONG MaxBufferSize;
    BYTE Reserved[64];
} DEVINFO, *PDEVINFO;

typedef struct Struct_RSAPUBLICKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
} RSAPUBLICKEYBLOB, *PRSAPUBLICKEYBLOB;

typedef struct Struct_RSAPRIVATEKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
    BYTE PrivateExponent[MAX_RSA_MODULUS_LEN];
    BYTE Prime1[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime1Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Coefficient[MAX_RSA_MODULUS_LEN / 2];
} RSAPRIVATEKEYBLOB, *PRSAPRIVATEKEYBLOB;

typedef struct Struct_ECCPUBLICKEYBLOB {
    ULONG BitLen;
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_YCOORDINATE_BITS_LEN / 8];
} ECCPUBLICKEYBLOB, *PECCPUBLICKEYBLOB;

typedef struct Struct_ECCPRIVATEKEYBLOB {
    ULONG BitLen;
    BYTE PrivateKey[ECC_MAX_MODULUS_BITS_LEN / 8];
} ECCPRIVATEKEYBLOB, *PECCPRIVATEKEYBLOB;

/* Cipher holds CipherLen bytes; the structure is allocated with room for them after offset 164. */
typedef struct Struct_ECCCIPHERBLOB {
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_YCOORDINATE_BITS_LEN / 8];
    BYTE HASH[32];
    ULONG CipherLen;
    BYTE Cipher[1];
} ECCCIPHERBLOB, *PECCCIPHERBLOB;

typedef struct Struct_ECCSIGNATUREBLOB {
    BYTE r[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE s[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
} ECCSIGNATUREBLOB, *PECCSIGNATUREBLOB;

typedef struct SKF_ENVELOPEDKEYBLOB {
    ULONG Version;
    ULONG ulSymmAlgID;
    ULONG ulBits;
    BYTE cbEncryptedPriKey[64];
    ECCPUBLICKEYBLOB PubKey;
    ECCCIPHERBLOB ECCCipherBlob;
} ENVELOPEDKEYBLOB, *PENVELOPEDKEYBLOB;

typedef struct Struct_BLOCKCIPHERPARAM {
    BYTE IV[MAX_IV_LEN];
    ULONG IVLen;
    ULONG PaddingType;
    ULONG FeedBitLen;
} BLOCKCIPHERPARAM, *PBLOCKCIPHERPARAM;

typedef struct Struct_FILEATTRIBUTE {
    CHAR FileName[32];
    ULONG FileSize;
    ULONG ReadRights;
    ULONG WriteRights;
} FILEATTRIBUTE, *PFILEATTRIBUTE;

#pragma pack(pop)

/* ---- layout checks: sizes and offsets are part of the binary interface ---- */
#ifdef __cplusplus
#define KEYCORE_SKF_ASSERT(cond, what) static_assert(cond, what)
#else
#define KEYCORE_SKF_ASSERT(cond, what) _Static_assert(cond, what)
#endif
#define KEYCORE_SKF_AT(type, field, offset) \
    KEYCORE_SKF_ASSERT(__builtin_offsetof(type, field) == (offset), #type "." #field " offset")

KEYCORE_SKF_ASSERT(sizeof(ULONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4, "32-bit integers");
KEYCORE_SKF_ASSERT(sizeof(HANDLE) == sizeof(void*), "pointer-sized handles");
KEYCORE_SKF_ASSERT(sizeof(VERSION) == 2, "VERSION size");
KEYCORE_SKF_AT(VERSION, minor, 1);
KEYCORE_SKF_ASSERT(sizeof(DEVINFO) == 294, "DEVINFO size");
KEYCORE_SKF_AT(DEVINFO, Manufacturer, 2);
KEYCORE_SKF_AT(DEVINFO, Issuer, 66);
KEYCORE_SKF_AT(DEVINFO, Label, 130);
KEYCORE_SKF_AT(DEVINFO, SerialNumber, 162);
KEYCORE_SKF_AT(DEVINFO, HWVersion, 194);
KEYCORE_SKF_AT(DEVINFO, FirmwareVersion, 196);
KEYCORE_SKF_AT(DEVINFO, AlgSymCap, 198);
KEYCORE_SKF_AT(DEVINFO, AlgAsymCap, 202);
KEYCORE_SKF_AT(DEVINFO, AlgHashCap, 206);
KEYCORE_SKF_AT(DEVINFO, DevAuthAlgId, 210);
KEYCORE_SKF_AT(DEVINFO, TotalSpace, 214);
KEYCORE_SKF_AT(DEVINFO, FreeSpace, 218);
KEYCORE_SKF_AT(DEVINFO, MaxECCBufferSize, 222);
KEYCORE_SKF_AT(DEVINFO, MaxBufferSize, 226);
KEYCORE_SKF_AT(DEVINFO, Reserved, 230);
KEYCORE_SKF_ASSERT(sizeof(RSAPUBLICKEYBLOB) == 268, "RSAPUBLICKEYBLOB size");
KEYCORE_SKF_AT(RSAPUBLICKEYBLOB, BitLen, 4);
KEYCORE_SKF_AT(RSAPUBLICKEYBLOB, Modulus, 8);
KEYCORE_SKF_AT(RSAPUBLICKEYBLOB, PublicExponent, 264);
KEYCORE_SKF_ASSERT(sizeof(RSAPRIVATEKEYBLOB) == 1164, "RSAPRIVATEKEYBLOB size");
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, BitLen, 4);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, Modulus, 8);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, PublicExponent, 264);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, PrivateExponent, 268);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, Prime1, 524);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, Prime2, 652);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, Prime1Exponent, 780);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, Prime2Exponent, 908);
KEYCORE_SKF_AT(RSAPRIVATEKEYBLOB, Coefficient, 1036);
KEYCORE_SKF_ASSERT(sizeof(ECCPUBLICKEYBLOB) == 132, "ECCPUBLICKEYBLOB size");
KEYCORE_SKF_AT(ECCPUBLICKEYBLOB, XCoordinate, 4);
KEYCORE_SKF_AT(ECCPUBLICKEYBLOB, YCoordinate, 68);
KEYCORE_SKF_ASSERT(sizeof(ECCPRIVATEKEYBLOB) == 68, "ECCPRIVATEKEYBLOB size");
KEYCORE_SKF_AT(ECCPRIVATEKEYBLOB, PrivateKey, 4);
KEYCORE_SKF_ASSERT(sizeof(ECCCIPHERBLOB) == 165, "ECCCIPHERBLOB size (164 plus the first cipher byte)");
KEYCORE_SKF_AT(ECCCIPHERBLOB, YCoordinate, 64);
KEYCORE_SKF_AT(ECCCIPHERBLOB, HASH, 128);
KEYCORE_SKF_AT(ECCCIPHERBLOB, CipherLen, 160);
KEYCORE_SKF_AT(ECCCIPHERBLOB, Cipher, 164);
KEYCORE_SKF_ASSERT(sizeof(ECCSIGNATUREBLOB) == 128, "ECCSIGNATUREBLOB size");
KEYCORE_SKF_AT(ECCSIGNATUREBLOB, s, 64);
KEYCORE_SKF_ASSERT(sizeof(ENVELOPEDKEYBLOB) == 373, "ENVELOPEDKEYBLOB size (372 plus the first cipher byte)");
KEYCORE_SKF_AT(ENVELOPEDKEYBLOB, ulSymmAlgID, 4);
KEYCORE_SKF_AT(ENVELOPEDKEYBLOB, ulBits, 8);
KEYCORE_SKF_AT(ENVELOPEDKEYBLOB, cbEncryptedPriKey, 12);
KEYCORE_SKF_AT(ENVELOPEDKEYBLOB, PubKey, 76);
KEYCORE_SKF_AT(ENVELOPEDKEYBLOB, ECCCipherBlob, 208);
KEYCORE_SKF_ASSERT(sizeof(BLOCKCIPHERPARAM) == 44, "BLOCKCIPHERPARAM size");
KEYCORE_SKF_AT(BLOCKCIPHERPARAM, IVLen, 32);
KEYCORE_SKF_AT(BLOCKCIPHERPARAM, PaddingType, 36);
KEYCORE_SKF_AT(BLOCKCIPHERPARAM, FeedBitLen, 40);
KEYCORE_SKF_ASSERT(sizeof(FILEATTRIBUTE) == 44, "FILEATTRIBUTE size");
KEYCORE_SKF_AT(FILEATTRIBUTE, FileSize, 32);
KEYCORE_SKF_AT(FILEATTRIBUTE, ReadRights, 36);
KEYCORE_SKF_AT(FILEATTRIBUTE, WriteRights, 40);

#undef KEYCORE_SKF_AT
#undef KEYCORE_SKF_ASSERT

/* ---- device ---- */
ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
ULONG SKF_CancelWaitForDevEvent(void);
ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize);
ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev);
ULONG SKF_DisConnectDev(DEVHANDLE hDev);
ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState);
ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel);
ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo);
ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut);
ULONG SKF_UnlockDev(DEVHANDLE hDev);
ULONG SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen);

/* ---- access control ---- */
ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen);
ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen);
ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG* pulRetryCount);
ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                     BOOL* pbDefaultPin);
ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount);
ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount);
ULONG SKF_ClearSecureState(HAPPLICATION hApplication);

/* ---- applications ---- */
ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                            LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                            HAPPLICATION* phApplication);
ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize);
ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName);
ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication);
ULONG SKF_CloseApplication(HAPPLICATION hApplication);

/* ---- files ---- */
ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                     ULONG ulWriteRights);
ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName);
ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize);
ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo);
ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                   ULONG* pulOutLen);
ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize);

/* ---- containers and certificates ---- */
ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName);
ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
ULONG SKF_CloseContainer(HCONTAINER hContainer);
ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize);
ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType);
ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen);
ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);

/* ---- random numbers and RSA ---- */
ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen);
ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob);
ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob);
ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                           BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen);
ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                    BYTE* pbSignature, ULONG ulSignLen);
ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                              ULONG* pulDataLen, HANDLE* phSessionKey);
ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                                BYTE* pbOutput, ULONG* pulOutputLen);
ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                                BYTE* pbOutput, ULONG* pulOutputLen);

/* ---- ECC ---- */
ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob);
ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, PENVELOPEDKEYBLOB pEnvelopedKeyBlob);
ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, PECCSIGNATUREBLOB pSignature);
ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                    PECCSIGNATUREBLOB pSignature);
ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, PECCCIPHERBLOB pData,
                              HANDLE* phSessionKey);
ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                        PECCCIPHERBLOB pCipherText);
ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, PECCCIPHERBLOB pCipherText,
                        BYTE* pbPlainText, ULONG* pulPlainTextLen);
ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                     PECCSIGNATUREBLOB pSignature);
ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                       PECCSIGNATUREBLOB pSignature);
ULONG SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob,
                                       BYTE* pbID, ULONG ulIDLen, HANDLE* phAgreementHandle);
ULONG SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                             BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle);
ULONG SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                             ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen, HANDLE* phKeyHandle);
ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);

/* ---- session keys and symmetric ciphers ---- */
ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey);
ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey);
ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam);
ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen);
ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen);
ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam);
ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen);
ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen);

/* ---- hash and MAC ---- */
ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                     HANDLE* phHash);
ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen);
ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen);
ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen);
ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac);
ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen);
ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen);
ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen);

/* ---- any handle ---- */
ULONG SKF_CloseHandle(HANDLE hHandle);

#ifdef __cplusplus
}
#endif

#endif /* KEYCORE_SKF_H */
