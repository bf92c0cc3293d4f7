#pragma once
// The crash-reporting library's interface (CrashRpt 1.4, wide-character variants). The stand-in
// writes a report folder under the save folder when the process crashes (fatal signal): the
// e-mail text, the properties, copies of the attached files, a screenshot note and a backtrace.
// Reports that may be sent are copied into the outbox below NIMBREL_PLATFORM_HOME ("crash-outbox").

#include "platform/win_types.h"

#define CR_HTTP 0
#define CR_SMTP 1
#define CR_SMAPI 2
#define CR_NEGATIVE_PRIORITY (static_cast<UINT>(-1))

#define CR_INST_SEH_EXCEPTION_HANDLER 0x1
#define CR_INST_ALL_POSSIBLE_HANDLERS 0x1FFF
#define CR_INST_NO_GUI 0x2000
#define CR_INST_HTTP_BINARY_ENCODING 0x4000
#define CR_INST_DONT_SEND_REPORT 0x8000
#define CR_INST_APP_RESTART 0x10000

#define CR_AS_VIRTUAL_SCREEN 0
#define CR_AS_MAIN_WINDOW 1
#define CR_AS_PROCESS_WINDOWS 2
#define CR_AS_GRAYSCALE_IMAGE 4
#define CR_AS_USE_JPEG_FORMAT 8

#define CR_AF_TAKE_ORIGINAL_FILE 0
#define CR_AF_MAKE_FILE_COPY 1
#define CR_AF_FILE_MUST_EXIST 0
#define CR_AF_MISSING_FILE_OK 2

enum MINIDUMP_TYPE { MiniDumpNormal = 0x00000000 };

struct CR_INSTALL_INFOW {
    WORD cb;
    LPCWSTR pszAppName;
    LPCWSTR pszAppVersion;
    LPCWSTR pszEmailTo;
    LPCWSTR pszEmailSubject;
    LPCWSTR pszUrl;
    LPCWSTR pszCrashSenderPath;
    LPVOID pfnCrashCallback;
    UINT uPriorities[5];
    DWORD dwFlags;
    LPCWSTR pszPrivacyPolicyURL;
    LPCWSTR pszDebugHelpDLL;
    MINIDUMP_TYPE uMiniDumpType;
    LPCWSTR pszErrorReportSaveDir;
    LPCWSTR pszRestartCmdLine;
    LPCWSTR pszLangFilePath;
    LPCWSTR pszEmailText;
    LPCWSTR pszSmtpProxy;
    LPCWSTR pszCustomSenderIcon;
    LPCWSTR pszSmtpLogin;
    LPCWSTR pszSmtpPassword;
    int nRestartTimeout;
    int nMaxReportsPerDay;
};
using PCR_INSTALL_INFOW = CR_INSTALL_INFOW*;

extern "C" {
// 0 on success; non-zero with a message for crGetLastErrorMsgW otherwise.
int crInstallW(PCR_INSTALL_INFOW info);
int crUninstall();
int crGetLastErrorMsgW(LPWSTR buffer, UINT bufferSize);
int crAddScreenshot2(DWORD flags, int jpegQuality);
int crAddFile2W(LPCWSTR file, LPCWSTR destFile, LPCWSTR description, DWORD flags);
int crAddPropertyW(LPCWSTR name, LPCWSTR value);
}
