; OrvinAgentSetup.exe: installs, upgrades and removes OrvinAgent on a Windows PC.
;
; Built by the normal build (installer/CMakeLists.txt runs makensis), which passes the
; programs, the data and two files it makes: the registry defaults (from
; data/registry/OrvinAgent.reg) and the voice-menu file list (from data/IVR).
;
; Command line (both setup and uninstaller also run silently with /S, for administrators):
;   OrvinAgentSetup.exe [/S] [/SOFTPHONE=skype|qq|thinkit|eyebeam|teltel|answering-machine]
;                       [/D=FOLDER, last: the folder of a new installation]
;   Uninstall.exe [/S] [/REMOVECONFIG]
; Exit status: 0 done, 1 cancelled, 2 a wrong command line, 3 the running agent did not
; end (nothing was changed), 4 not run by an administrator.
;
; An installation over an existing one asks a running agent to end through the
; application manager (OrvinAppCtl.exe, run from a temporary copy), replaces the files,
; adds only the registry values that are missing, and starts the agent again. The
; uninstaller ends the agent the same way and removes only what setup installed: the
; voice messages, the greeting and the recordings stay, and so does the configuration
; unless asked otherwise.

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma
AllowSkipFiles off

!ifndef VERSION | VERSION4 | AGENT_EXE | APPCTL_EXE | DTMF_EXE | CABINET | ICON | DEFAULTS_NSH | IVR_NSH | OUTFILE
    !error "Built by the build (installer/CMakeLists.txt), which defines the files it packs"
!endif

!define PRODUCT "OrvinAgent"
!define PUBLISHER "Orvin"
; The adapter software's registry key (the root its service reports), the trace settings'
; key, the machine's list of installed programs and its programs started at logon.
!define ROOT_KEY "SOFTWARE\Orvin\VoipAdapter"
!define TRACE_KEY "SOFTWARE\Velcora\Quendo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvinAgent"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The agent's ID in the application manager's protocol.
!define AGENT_APP_ID 2

!define EXIT_BAD_COMMAND_LINE 2
!define EXIT_AGENT_RUNNING 3
!define EXIT_NOT_ADMIN 4

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Orvin\VoipAdapter"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION4}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include "${DEFAULTS_NSH}"
!include "${IVR_NSH}"
!include "SoftPhoneType.nsh"

Var AgentWasRunning ; 1 when setup ended a running agent (it starts it again)
Var Upgrade         ; 1 when an installation was found
Var Choice          ; the chosen softphone's type, empty when nothing was chosen
Var RemoveConfig    ; uninstaller: 1 removes the configuration too
Var Dialog
Var Radio0
Var Radio1
Var Radio2
Var Radio4
Var Radio10
Var Radio8
Var RemoveConfigBox

; ---- Registry defaults: each value is written only when it is missing, whatever its type,
; so that an upgrade keeps what the user changed.

; $R0 = 1 when the value NAME exists in KEY.
!macro ORVIN_VALUE_EXISTS ROOT KEY NAME
    StrCpy $R0 0
    StrCpy $R1 0
    ${Do}
        ClearErrors
        EnumRegValue $R2 ${ROOT} "${KEY}" $R1
        ${If} ${Errors}
        ${OrIf} $R2 == ""
            ${Break}
        ${EndIf}
        ${If} $R2 == "${NAME}"
            StrCpy $R0 1
            ${Break}
        ${EndIf}
        IntOp $R1 $R1 + 1
    ${Loop}
!macroend
!macro ORVIN_DEFAULT_STR ROOT KEY NAME VALUE
    !insertmacro ORVIN_VALUE_EXISTS ${ROOT} "${KEY}" "${NAME}"
    ${If} $R0 = 0
        WriteRegStr ${ROOT} "${KEY}" "${NAME}" "${VALUE}"
    ${EndIf}
!macroend
!macro ORVIN_DEFAULT_DWORD ROOT KEY NAME VALUE
    !insertmacro ORVIN_VALUE_EXISTS ${ROOT} "${KEY}" "${NAME}"
    ${If} $R0 = 0
        WriteRegDWORD ${ROOT} "${KEY}" "${NAME}" ${VALUE}
    ${EndIf}
!macroend
!macro ORVIN_DEFAULT_BIN ROOT KEY NAME VALUE
    !insertmacro ORVIN_VALUE_EXISTS ${ROOT} "${KEY}" "${NAME}"
    ${If} $R0 = 0
        WriteRegBin ${ROOT} "${KEY}" "${NAME}" "${VALUE}"
    ${EndIf}
!macroend

; ---- Ending a running agent, for setup and uninstaller alike: the application manager's
; shutdown command, sent by OrvinAppCtl.exe from a temporary copy (the installed one is
; about to be replaced or removed). OrvinAppCtl waits about 40 s for the agent to end.

!macro ORVIN_END_AGENT_FUNCTION UN
; The agent leaves the application manager before its process has quite gone, and Windows
; keeps a running program's file from being written: up to 10 s for it to come free.
Function ${UN}WaitForProgramFile
    StrCpy $1 0
    ${DoWhile} ${FileExists} "$INSTDIR\OrvinAgent.exe"
        ClearErrors
        FileOpen $2 "$INSTDIR\OrvinAgent.exe" a
        ${IfNot} ${Errors}
            FileClose $2
            ${Break}
        ${EndIf}
        IntOp $1 $1 + 1
        ${IfThen} $1 > 50 ${|} ${Break} ${|}
        Sleep 200
    ${Loop}
FunctionEnd

Function ${UN}EndRunningAgent
    StrCpy $AgentWasRunning 0
    InitPluginsDir
    File "/oname=$PLUGINSDIR\OrvinAppCtl.exe" "${APPCTL_EXE}"
    nsExec::ExecToLog '"$PLUGINSDIR\OrvinAppCtl.exe" running ${AGENT_APP_ID}'
    Pop $0
    ${If} $0 == 1
        Return ; not running
    ${EndIf}
    ${Do}
        DetailPrint "Closing the running ${PRODUCT}..."
        nsExec::ExecToLog '"$PLUGINSDIR\OrvinAppCtl.exe" shutdown ${AGENT_APP_ID}'
        Pop $0
        ${If} $0 == 0
            StrCpy $AgentWasRunning 1
            DetailPrint "${PRODUCT} has ended."
            Call ${UN}WaitForProgramFile
            Return
        ${EndIf}
        DetailPrint "${PRODUCT} did not end (OrvinAppCtl: $0)."
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "${PRODUCT} is still running: it did not end within 40 seconds of being asked to.$\r$\n$\r$\n\
Close it (Exit in the menu of its icon in the notification area, or end OrvinAgent.exe in \
the Task Manager), then choose Retry. Cancel stops here, leaving the installation as it \
is." /SD IDCANCEL IDRETRY retry
        SetErrorLevel ${EXIT_AGENT_RUNNING}
        Abort "${PRODUCT} is still running; nothing was changed."
    retry:
    ${Loop}
FunctionEnd
!macroend
!insertmacro ORVIN_END_AGENT_FUNCTION ""
!insertmacro ORVIN_END_AGENT_FUNCTION "un."

; Users may write below $R8: the agent runs as the logged-on user and keeps the voice
; messages and the greeting in the voice-menu folders of Program Files, which only
; administrators may change otherwise. BUILTIN\Users get modify rights there, inherited
; by every folder and file below, besides what Program Files grants.
Function GrantUsersModify
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW( \
        w "D:(A;OICI;0x1301bf;;;BU)", i 1, *p .R1, p 0) i .R0'
    ${If} $R0 = 0
        DetailPrint "Users cannot be given write access to $R8."
        Return
    ${EndIf}
    System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .R2, *p .R3, *i .R4) i .R0'
    ; SE_FILE_OBJECT, DACL_SECURITY_INFORMATION: the inherited entries stay.
    System::Call 'advapi32::SetNamedSecurityInfoW(w R8, i 1, i 4, p 0, p 0, p R3, p 0) i .R0'
    System::Call 'kernel32::LocalFree(p R1)'
    ${If} $R0 != 0
        DetailPrint "Users cannot be given write access to $R8 (error $R0)."
    ${EndIf}
FunctionEnd

!macro ORVIN_REQUIRE_ADMIN
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} Setup must be run by an administrator." /SD IDOK
        SetErrorLevel ${EXIT_NOT_ADMIN}
        Quit
    ${EndIf}
!macroend

; ---- Pages

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Setup will install ${PRODUCT} ${VERSION}, which makes the telephone \
on your Orvin phone adapter work with a softphone on this PC and runs its answering machine.\
$\r$\n$\r$\nIf ${PRODUCT} is running, Setup closes it before it replaces its files and starts it \
again afterwards. Your settings, voice messages, greeting and recordings are kept.\
$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
Page custom SoftphonePage SoftphonePageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartAgent
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.OptionsPage un.OptionsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Function SkipOnUpgrade
    ${If} $Upgrade = 1
        Abort
    ${EndIf}
FunctionEnd

; The softphone page: the current choice (or the command line's) is preselected.
Function SoftphonePage
    !insertmacro MUI_HEADER_TEXT "Softphone" \
        "Choose the softphone that the telephone on the adapter works with."
    nsDialogs::Create 1018
    Pop $Dialog
    ${If} $Dialog == error
        Abort
    ${EndIf}
    ${NSD_CreateLabel} 0 0 100% 20u "Calls on the telephone go through the softphone chosen \
here; it must be installed on this PC. Without one, the adapter still answers calls \
from the line with its answering machine."
    Pop $0
    ${NSD_CreateFirstRadioButton} 10u 26u 90% 12u "&Skype"
    Pop $Radio0
    ${NSD_CreateRadioButton} 10u 40u 90% 12u "&QQ"
    Pop $Radio1
    ${NSD_CreateRadioButton} 10u 54u 90% 12u "&ThinkIt"
    Pop $Radio2
    ${NSD_CreateRadioButton} 10u 68u 90% 12u "&EyeBeam"
    Pop $Radio4
    ${NSD_CreateRadioButton} 10u 82u 90% 12u "Tel&Tel"
    Pop $Radio10
    ${NSD_CreateRadioButton} 10u 96u 90% 12u "&No softphone: the answering machine only"
    Pop $Radio8
    StrCpy $0 $Choice
    ${If} $0 == ""
        StrCpy $0 $SelectedType
    ${EndIf}
    ${Select} $0
    ${Case} 1
        ${NSD_Check} $Radio1
    ${Case} 2
        ${NSD_Check} $Radio2
    ${Case} 4
        ${NSD_Check} $Radio4
    ${Case} 10
        ${NSD_Check} $Radio10
    ${Case2} 8 9
        ${NSD_Check} $Radio8
    ${CaseElse}
        ${NSD_Check} $Radio0
    ${EndSelect}
    nsDialogs::Show
FunctionEnd

Function SoftphonePageLeave
    StrCpy $Choice 0
    ${NSD_GetState} $Radio1 $0
    ${IfThen} $0 = ${BST_CHECKED} ${|} StrCpy $Choice 1 ${|}
    ${NSD_GetState} $Radio2 $0
    ${IfThen} $0 = ${BST_CHECKED} ${|} StrCpy $Choice 2 ${|}
    ${NSD_GetState} $Radio4 $0
    ${IfThen} $0 = ${BST_CHECKED} ${|} StrCpy $Choice 4 ${|}
    ${NSD_GetState} $Radio10 $0
    ${IfThen} $0 = ${BST_CHECKED} ${|} StrCpy $Choice 10 ${|}
    ${NSD_GetState} $Radio8 $0
    ${IfThen} $0 = ${BST_CHECKED} ${|} StrCpy $Choice 8 ${|}
FunctionEnd

; The agent starts as the logged-on user, as it does at logon: the shell, asked to open
; it, starts it without the administrator's rights this setup runs with (an elevated
; agent would not hear the softphones, whose window messages Windows keeps from programs
; of a higher integrity level).
Function StartAgent
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\OrvinAgent.exe"'
FunctionEnd

; Setup has started the agent again itself: no second start from the finish page.
Function FinishPageShow
    ${If} $AgentWasRunning = 1
        ${NSD_Uncheck} $mui.FinishPage.Run
        ShowWindow $mui.FinishPage.Run ${SW_HIDE}
    ${EndIf}
FunctionEnd

; ---- Setup

Function .onInit
    SetRegView 64
    !insertmacro ORVIN_REQUIRE_ADMIN
    ${GetParameters} $R9
    ; The softphone: names for the types the agent knows (the answering machine is
    ; type 8, the answering-machine client's first variant).
    StrCpy $Choice ""
    ClearErrors
    ${GetOptions} $R9 "/SOFTPHONE=" $0
    ${IfNot} ${Errors}
        ${Select} $0
        ${Case} "skype"
            StrCpy $Choice 0
        ${Case} "qq"
            StrCpy $Choice 1
        ${Case} "thinkit"
            StrCpy $Choice 2
        ${Case} "eyebeam"
            StrCpy $Choice 4
        ${Case} "teltel"
            StrCpy $Choice 10
        ${Case} "answering-machine"
            StrCpy $Choice 8
        ${CaseElse}
            MessageBox MB_OK|MB_ICONSTOP "Unknown softphone: /SOFTPHONE=$0$\r$\n$\r$\nUse one of \
skype, qq, thinkit, eyebeam, teltel, answering-machine." /SD IDOK
            SetErrorLevel ${EXIT_BAD_COMMAND_LINE}
            Quit
        ${EndSelect}
    ${EndIf}
    ; An installation is upgraded where it is. Otherwise the folder the configuration
    ; names (an uninstall kept it) is offered, unless /D= chose one (NSIS has put it in
    ; $INSTDIR already).
    StrCpy $Upgrade 0
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\OrvinAgent.exe"
        StrCpy $Upgrade 1
        StrCpy $INSTDIR $0
    ${ElseIf} $INSTDIR == "$PROGRAMFILES64\Orvin\VoipAdapter"
        ReadRegStr $0 HKLM "${ROOT_KEY}" "SoftwareInstallationFolder"
        ${If} $0 != ""
            StrCpy $INSTDIR $0
        ${EndIf}
    ${EndIf}
    Call ReadSoftPhoneType
FunctionEnd

Section "${PRODUCT}" SectionMain
    SectionIn RO
    SetRegView 64
    SetShellVarContext all
    Call EndRunningAgent

    SetOutPath "$INSTDIR"
    File "/oname=OrvinAgent.exe" "${AGENT_EXE}"
    File "/oname=OrvinAppCtl.exe" "${APPCTL_EXE}"
    File "/oname=OrvinDtmf.exe" "${DTMF_EXE}"
    File "/oname=zuvoiplng.cab" "${CABINET}"
    !insertmacro ORVIN_INSTALL_IVR
    ; Where the answering machine keeps the voice messages.
    CreateDirectory "$INSTDIR\IVR\VoiceMail"
    StrCpy $R8 "$INSTDIR\IVR"
    Call GrantUsersModify
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; The configuration: the defaults where values are missing, the folder always, the
    ; softphone when one was chosen.
    !insertmacro ORVIN_REGISTRY_DEFAULTS
    WriteRegStr HKLM "${ROOT_KEY}" "SoftwareInstallationFolder" "$INSTDIR"
    ${If} $Choice != ""
        ; The record as it is now, the default's on a new installation.
        Call ReadSoftPhoneType
        StrCpy $R8 $Choice
        Call WriteSoftPhoneType
        ${If} ${Errors}
            Abort "The softphone choice could not be written to the registry."
        ${EndIf}
    ${EndIf}
    ; The trace file's folder, when the trace goes to a file.
    ReadRegDWORD $0 HKLM "${TRACE_KEY}" "DebugType"
    ReadRegStr $1 HKLM "${TRACE_KEY}" "DebugFile"
    ${If} $0 = 3
    ${AndIf} $1 != ""
        ${GetParent} "$1" $2
        CreateDirectory "$2"
    ${EndIf}

    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\OrvinAgent.exe" "" \
        "$INSTDIR\OrvinAgent.exe" 0 SW_SHOWNORMAL "" "Telephone adapter agent"
    WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\OrvinAgent.exe"'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\OrvinAgent.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallDate" "$2$1$0"
    SectionGetSize ${SectionMain} $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ${If} $AgentWasRunning = 1
        DetailPrint "Starting ${PRODUCT} again."
        Call StartAgent
    ${EndIf}
SectionEnd

; ---- Uninstaller

Function un.onInit
    SetRegView 64
    !insertmacro ORVIN_REQUIRE_ADMIN
    ${GetParameters} $R9
    StrCpy $RemoveConfig 0
    ClearErrors
    ${GetOptions} $R9 "/REMOVECONFIG" $0
    ${IfNot} ${Errors}
        StrCpy $RemoveConfig 1
    ${EndIf}
FunctionEnd

Function un.OptionsPage
    !insertmacro MUI_HEADER_TEXT "Uninstall ${PRODUCT}" "Remove ${PRODUCT} from this PC."
    nsDialogs::Create 1018
    Pop $Dialog
    ${If} $Dialog == error
        Abort
    ${EndIf}
    ${NSD_CreateLabel} 0 0 100% 52u "${PRODUCT} will be removed from $INSTDIR; if it is \
running, it is closed first.$\r$\n$\r$\nYour voice messages (IVR\VoiceMail in that folder), \
your greeting, your reminders and your call recordings are kept."
    Pop $0
    ${NSD_CreateCheckbox} 0 60u 100% 24u "Also remove the settings: the configuration and \
the trace settings in the registry"
    Pop $RemoveConfigBox
    ${If} $RemoveConfig = 1
        ${NSD_Check} $RemoveConfigBox
    ${EndIf}
    GetDlgItem $0 $HWNDPARENT 1
    SendMessage $0 ${WM_SETTEXT} 0 "STR:$(^UninstallBtn)"
    nsDialogs::Show
FunctionEnd

Function un.OptionsPageLeave
    ${NSD_GetState} $RemoveConfigBox $0
    ${If} $0 = ${BST_CHECKED}
        StrCpy $RemoveConfig 1
    ${Else}
        StrCpy $RemoveConfig 0
    ${EndIf}
FunctionEnd

Section "Uninstall"
    SetRegView 64
    SetShellVarContext all
    Call un.EndRunningAgent

    ; Only what setup installed: the voice messages, the greeting (in the language
    ; folders) and anything else the user keeps here stay, and with them the folders.
    Delete "$INSTDIR\OrvinAgent.exe"
    Delete "$INSTDIR\OrvinAppCtl.exe"
    Delete "$INSTDIR\OrvinDtmf.exe"
    Delete "$INSTDIR\zuvoiplng.cab"
    !insertmacro ORVIN_REMOVE_IVR
    RMDir "$INSTDIR\IVR\VoiceMail"
    RMDir "$INSTDIR\IVR"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    ${GetParent} "$INSTDIR" $0
    RMDir "$0"

    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
    ; The agent's trace file is remade at every start: it goes with the program.
    ReadRegStr $1 HKLM "${TRACE_KEY}" "DebugFile"
    ${If} $1 != ""
        Delete "$1"
        ${GetParent} "$1" $2
        RMDir "$2"
    ${EndIf}
    ${If} $RemoveConfig = 1
        DetailPrint "Removing the configuration."
        ; The agent's own trees below the root and its trace level, then every value
        ; setup writes (and each key that is left empty).
        DeleteRegKey HKLM "${ROOT_KEY}\Config"
        DeleteRegKey HKLM "${ROOT_KEY}\Recorder"
        DeleteRegValue HKLM "${TRACE_KEY}" "DebugLevel"
        !insertmacro ORVIN_REGISTRY_REMOVE
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
