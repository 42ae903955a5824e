; OrvinAgentSetup.exe: installs, upgrades and removes OrvinAgent on a Windows PC.
;
; Built by the normal build (installer/CMakeLists.txt runs makensis), which passes the
; programs, the data and two files it makes: the registry defaults (from
; data/registry/OrvinAgent.reg) and the voice-menu file list (from data/IVR).
;
; Command line (both setup and uninstaller also run silently with /S, for administrators):
;   OrvinAgentSetup.exe [/S] [/SOFTPHONE=skype|qq|thinkit|eyebeam|teltel|answering-machine]
;                       [/PIN=DIGITS] [/LOG=FILE] [/D=FOLDER, last: the folder of a new installation]
;   Uninstall.exe [/S] [/REMOVECONFIG] [/LOG=FILE]
; The list of installed programs runs the silent uninstaller in place ("_?=" and the
; folder), so that it returns when it is done, with its exit status.
; Exit status: 0 done, 1 cancelled, 2 an unexpected failure (NSIS's own), 3 the running
; agent did not end (nothing was changed), 4 not run by an administrator, 5 a program file
; is in use, by an agent or settings program of another user's session or another program
; (nothing was changed), 6 installed, but an access list or a registry value could not be written (the
; details and the log name it), 7 a wrong command line, 8 the PIN of /PIN= was refused.
;
; An installation over an existing one closes a running settings program (OrvinSettings.exe),
; asks a running agent to end through the application manager (OrvinAppCtl.exe, run from
; a temporary copy), replaces the files,
; adds only the registry values that are missing, writes only the choices the user changed,
; and starts the agent again, even when it fails after ending it. The uninstaller ends the
; programs the same way and removes only what setup installed: the voice messages, the
; greeting and the recordings stay, and so does the configuration unless asked otherwise.
;
; The agent runs as every user who logs on (the machine's Run value), so what one user may
; change every user's agent reads: users may write only the folders of their data (voice
; messages, the greeting, recordings kept in the installation) and set values of the keys
; the agent and the settings program write (Config\IVR, Config\IVR\Pstn, Config\IVR\Voip,
; Config\General); never the registry root, whose MonitorExeName names the program every
; user's agent starts. The steps that set access lists and delete in folders
; users may write are OrvinSetupHelper.exe's (helper/OrvinSetupHelper.cpp), which follows
; no link a user made.

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma
AllowSkipFiles off

!ifndef VERSION | VERSION4 | AGENT_EXE | SETTINGS_EXE | APPCTL_EXE | DTMF_EXE | HELPER_EXE | CABINET | ICON | DEFAULTS_NSH | IVR_NSH | OUTFILE
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
; The class of the settings program's hidden window, which ends the program on WM_CLOSE.
!define SETTINGS_WINDOW_CLASS "OrvinSettingsMonitor"

; 1 (cancelled) and 2 (aborted) are NSIS's own.
!define EXIT_AGENT_RUNNING 3
!define EXIT_NOT_ADMIN 4
!define EXIT_IN_USE 5
!define EXIT_INCOMPLETE 6
!define EXIT_BAD_COMMAND_LINE 7
!define EXIT_PIN_REFUSED 8

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
Var ShownType       ; the type the softphone page showed chosen at first, empty for none
Var RemoveConfig    ; uninstaller: 1 removes the configuration too
Var InPlace         ; uninstaller: 1 when it runs from the installation folder itself
Var LogFile         ; /LOG=: the details go there too
Var Failed          ; 1 when an access list or a registry value could not be written
Var ProgramInUse    ; the program file found in use, empty when none
Var Dialog
Var Radio0
Var Radio1
Var Radio2
Var Radio4
Var Radio10
Var Radio8
Var RemoveConfigBox

; ---- The details: each line also goes to the /LOG= file. The error flag is left alone.

!macro ORVIN_LOG_FUNCTIONS UN
Function ${UN}Log
    Exch $R0
    Push $R1
    Push $R2
    StrCpy $R2 0
    IfErrors 0 +2
    StrCpy $R2 1
    DetailPrint "$R0"
    ${If} $LogFile != ""
        FileOpen $R1 "$LogFile" a
        FileSeek $R1 0 END
        FileWrite $R1 "$R0$\r$\n"
        FileClose $R1
    ${EndIf}
    ClearErrors
    ${IfThen} $R2 = 1 ${|} SetErrors ${|}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; The helper goes to the temporary folder (from a function: what a section's own File
; commands write counts as installed).
Function ${UN}UnpackHelper
    InitPluginsDir
    File "/oname=$PLUGINSDIR\OrvinSetupHelper.exe" "${HELPER_EXE}"
FunctionEnd

; OrvinSetupHelper.exe with the arguments on the stack; its lines go to the details. $0 =
; its exit status ("error" when it could not be run).
Function ${UN}Helper
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    nsExec::ExecToStack '"$PLUGINSDIR\OrvinSetupHelper.exe" $R0'
    Pop $0
    Pop $R1
    StrCpy $R2 ""
    StrCpy $R3 0
    ${Do}
        StrCpy $R4 $R1 1 $R3
        ${If} $R4 == ""
        ${OrIf} $R4 == "$\n"
            ${If} $R2 != ""
                Push "$R2"
                Call ${UN}Log
            ${EndIf}
            StrCpy $R2 ""
            ${IfThen} $R4 == "" ${|} ${Break} ${|}
        ${ElseIf} $R4 != "$\r"
            StrCpy $R2 "$R2$R4"
        ${EndIf}
        IntOp $R3 $R3 + 1
    ${Loop}
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!insertmacro ORVIN_LOG_FUNCTIONS ""
!insertmacro ORVIN_LOG_FUNCTIONS "un."

!macro ORVIN_LOG UN TEXT
    Push "${TEXT}"
    Call ${UN}Log
!macroend

; A helper step whose failure leaves the installation incomplete (exit status 6).
!macro ORVIN_HELPER UN ARGS
    Push `${ARGS}`
    Call ${UN}Helper
    ${If} $0 != 0
        StrCpy $Failed 1
    ${EndIf}
!macroend

; ---- Registry writes: each one that fails is named in the details and counted.

!macro ORVIN_WRITTEN WHAT
    ${If} ${Errors}
        StrCpy $Failed 1
        !insertmacro ORVIN_LOG "" "${WHAT} could not be written to the registry."
    ${EndIf}
!macroend
!macro ORVIN_WRITE_STR ROOT KEY NAME VALUE
    ClearErrors
    WriteRegStr ${ROOT} `${KEY}` `${NAME}` `${VALUE}`
    !insertmacro ORVIN_WRITTEN "${ROOT}\${KEY}\${NAME}"
!macroend
!macro ORVIN_WRITE_DWORD ROOT KEY NAME VALUE
    ClearErrors
    WriteRegDWORD ${ROOT} "${KEY}" "${NAME}" ${VALUE}
    !insertmacro ORVIN_WRITTEN "${ROOT}\${KEY}\${NAME}"
!macroend

; Registry defaults: each value is written only when it is missing, whatever its type, so
; that an upgrade keeps what the user changed. $R0 = 1 when the value NAME exists in KEY;
; the unnamed value enumerates as an empty name like any other, so only the end of the
; list (the error flag) ends the search.
!macro ORVIN_VALUE_EXISTS ROOT KEY NAME
    StrCpy $R0 0
    StrCpy $R1 0
    ${Do}
        ClearErrors
        EnumRegValue $R2 ${ROOT} "${KEY}" $R1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
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
        !insertmacro ORVIN_WRITE_STR ${ROOT} "${KEY}" "${NAME}" "${VALUE}"
    ${EndIf}
!macroend
!macro ORVIN_DEFAULT_DWORD ROOT KEY NAME VALUE
    !insertmacro ORVIN_VALUE_EXISTS ${ROOT} "${KEY}" "${NAME}"
    ${If} $R0 = 0
        !insertmacro ORVIN_WRITE_DWORD ${ROOT} "${KEY}" "${NAME}" ${VALUE}
    ${EndIf}
!macroend
!macro ORVIN_DEFAULT_BIN ROOT KEY NAME VALUE
    !insertmacro ORVIN_VALUE_EXISTS ${ROOT} "${KEY}" "${NAME}"
    ${If} $R0 = 0
        ClearErrors
        WriteRegBin ${ROOT} "${KEY}" "${NAME}" "${VALUE}"
        !insertmacro ORVIN_WRITTEN "${ROOT}\${KEY}\${NAME}"
    ${EndIf}
!macroend

; ---- Ending a running agent, for setup and uninstaller alike: the application manager's
; shutdown command, sent by OrvinAppCtl.exe from a temporary copy (the installed one is
; about to be replaced or removed). OrvinAppCtl waits about 40 s for the agent to end.
; Then every program file must come free: Windows keeps a running program's file, the
; agent leaves the application manager before its process has quite gone, and an agent of
; another user's session (which this session's application manager does not see) or
; another program may hold one. Nothing is changed before both have succeeded.

; Sets ProgramInUse to $INSTDIR\NAME when that file exists and cannot be opened alone for
; writing and deleting.
!macro ORVIN_CHECK_FREE NAME
    ${If} $ProgramInUse == ""
        ; GENERIC_WRITE | DELETE, no sharing, OPEN_EXISTING
        System::Call 'kernel32::CreateFileW(w "$INSTDIR\${NAME}", i 0x40010000, i 0, p 0, i 3, i 0, p 0) p .R1 ?e'
        Pop $R2
        ${If} $R1 = -1
            ${If} $R2 != 2
            ${AndIf} $R2 != 3
                StrCpy $ProgramInUse "$INSTDIR\${NAME}"
            ${EndIf}
        ${Else}
            System::Call 'kernel32::CloseHandle(p R1)'
        ${EndIf}
    ${EndIf}
!macroend

!macro ORVIN_END_AGENT_FUNCTIONS UN
; Up to 10 s for the program files to come free; ProgramInUse names one that did not.
Function ${UN}WaitForProgramFiles
    Push $R1
    Push $R2
    Push $R3
    StrCpy $R3 0
    ${Do}
        StrCpy $ProgramInUse ""
        !insertmacro ORVIN_CHECK_FREE "OrvinAgent.exe"
        !insertmacro ORVIN_CHECK_FREE "OrvinSettings.exe"
        !insertmacro ORVIN_CHECK_FREE "OrvinAppCtl.exe"
        !insertmacro ORVIN_CHECK_FREE "OrvinDtmf.exe"
        ${IfThen} $ProgramInUse == "" ${|} ${Break} ${|}
        IntOp $R3 $R3 + 1
        ${IfThen} $R3 > 50 ${|} ${Break} ${|}
        Sleep 200
    ${Loop}
    Pop $R3
    Pop $R2
    Pop $R1
FunctionEnd

; The agent starts as the logged-on user, as it does at logon: the shell, asked to open
; it, starts it without the administrator's rights this setup runs with (an elevated
; agent would not hear the softphones, whose window messages Windows keeps from programs
; of a higher integrity level).
Function ${UN}StartAgent
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\OrvinAgent.exe"'
FunctionEnd

; After a failure: the agent this run ended runs again.
Function ${UN}RestartEndedAgent
    ${If} $AgentWasRunning = 1
    ${AndIf} ${FileExists} "$INSTDIR\OrvinAgent.exe"
        StrCpy $AgentWasRunning 0
        !insertmacro ORVIN_LOG "${UN}" "Starting ${PRODUCT} again."
        Call ${UN}StartAgent
    ${EndIf}
FunctionEnd

; Ends a running settings program and agent and waits for the program files, asking the
; user to help while either fails; the run stops (Abort) when that is cancelled. The settings
; program goes first: it may be starting the agent again after a new softphone. It is told
; to close on every desktop setup can reach (a user's settings program in another session
; keeps its file in use, which is found below).
Function ${UN}FreeProgramFiles
    StrCpy $AgentWasRunning 0
    File "/oname=$PLUGINSDIR\OrvinAppCtl.exe" "${APPCTL_EXE}"
    ${Do}
        Push `close-windows ${SETTINGS_WINDOW_CLASS}`
        Call ${UN}Helper
        nsExec::ExecToLog '"$PLUGINSDIR\OrvinAppCtl.exe" running ${AGENT_APP_ID}'
        Pop $0
        ${If} $0 != 1
            !insertmacro ORVIN_LOG "${UN}" "Closing the running ${PRODUCT}..."
            nsExec::ExecToLog '"$PLUGINSDIR\OrvinAppCtl.exe" shutdown ${AGENT_APP_ID}'
            Pop $0
            ${If} $0 != 0
                !insertmacro ORVIN_LOG "${UN}" "${PRODUCT} did not end (OrvinAppCtl: $0)."
                MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
                    "${PRODUCT} is still running: it did not end within 40 seconds of being asked to.$\r$\n$\r$\n\
Close it (Exit in the menu of its icon in the notification area, or end OrvinAgent.exe in \
the Task Manager), then choose Retry. Cancel stops here, leaving the installation as it \
is." /SD IDCANCEL IDRETRY retry_agent
                SetErrorLevel ${EXIT_AGENT_RUNNING}
                Abort "${PRODUCT} is still running; nothing was changed."
            retry_agent:
                ${Continue}
            ${EndIf}
            StrCpy $AgentWasRunning 1
            !insertmacro ORVIN_LOG "${UN}" "${PRODUCT} has ended."
        ${EndIf}
        Call ${UN}WaitForProgramFiles
        ${IfThen} $ProgramInUse == "" ${|} Return ${|}
        !insertmacro ORVIN_LOG "${UN}" "$ProgramInUse is in use."
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "$ProgramInUse is in use by another program.$\r$\n$\r$\n\
${PRODUCT} or its settings may be open for another user of this PC: switch to that user, \
close the settings and choose Exit in the menu of the agent's icon in the notification area \
(or sign that user out), then choose Retry. Cancel stops here, leaving the installation as it is." /SD IDCANCEL IDRETRY retry_files
        SetErrorLevel ${EXIT_IN_USE}
        Abort "$ProgramInUse is in use; nothing was changed."
    retry_files:
    ${Loop}
FunctionEnd
!macroend
!insertmacro ORVIN_END_AGENT_FUNCTIONS ""
!insertmacro ORVIN_END_AGENT_FUNCTIONS "un."

!include "Pin.nsh"

!macro ORVIN_REQUIRE_ADMIN
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} Setup must be run by an administrator." /SD IDOK
        SetErrorLevel ${EXIT_NOT_ADMIN}
        Quit
    ${EndIf}
!macroend

!macro ORVIN_READ_LOG_OPTION
    StrCpy $LogFile ""
    ClearErrors
    ${GetOptions} $R9 "/LOG=" $0
    ${IfNot} ${Errors}
        StrCpy $LogFile $0
        FileOpen $0 "$LogFile" w
        FileClose $0
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
Page custom PinPage PinPageLeave
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

; The softphone page: the choice of the command line, else the record's, is shown chosen (a
; new installation's is Skype, the default record's; a record that selects no client shows
; none). Leaving it as shown changes nothing, so that a record the page cannot show as it
; is (the answering machine's second variant, an empty selection) stays as it was.
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
    StrCpy $ShownType $Choice
    ${If} $ShownType == ""
        ${If} $SelectedType != 11
            StrCpy $ShownType $SelectedType
        ${ElseIf} $RecordFound = 0
            StrCpy $ShownType 0
        ${EndIf}
    ${EndIf}
    ${IfThen} $ShownType = 9 ${|} StrCpy $ShownType 8 ${|}
    ${Select} $ShownType
    ${Case} ""
    ${Case} 0
        ${NSD_Check} $Radio0
    ${Case} 1
        ${NSD_Check} $Radio1
    ${Case} 2
        ${NSD_Check} $Radio2
    ${Case} 4
        ${NSD_Check} $Radio4
    ${Case} 10
        ${NSD_Check} $Radio10
    ${Case} 8
        ${NSD_Check} $Radio8
    ${CaseElse}
        StrCpy $ShownType ""
    ${EndSelect}
    nsDialogs::Show
FunctionEnd

!macro ORVIN_CHECKED RADIO TYPE
    ${NSD_GetState} ${RADIO} $1
    ${IfThen} $1 = ${BST_CHECKED} ${|} StrCpy $0 ${TYPE} ${|}
!macroend

Function SoftphonePageLeave
    StrCpy $0 ""
    !insertmacro ORVIN_CHECKED $Radio0 0
    !insertmacro ORVIN_CHECKED $Radio1 1
    !insertmacro ORVIN_CHECKED $Radio2 2
    !insertmacro ORVIN_CHECKED $Radio4 4
    !insertmacro ORVIN_CHECKED $Radio10 10
    !insertmacro ORVIN_CHECKED $Radio8 8
    ${If} $0 != $ShownType
        StrCpy $Choice $0
    ${EndIf}
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
    !insertmacro ORVIN_READ_LOG_OPTION
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
            !insertmacro ORVIN_LOG "" "Unknown softphone: /SOFTPHONE=$0"
            MessageBox MB_OK|MB_ICONSTOP "Unknown softphone: /SOFTPHONE=$0$\r$\n$\r$\nUse one of \
skype, qq, thinkit, eyebeam, teltel, answering-machine." /SD IDOK
            SetErrorLevel ${EXIT_BAD_COMMAND_LINE}
            Quit
        ${EndSelect}
    ${EndIf}
    Call ReadPinOption
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
    Call ReadPin
FunctionEnd

Function .onInstFailed
    Call RestartEndedAgent
FunctionEnd

; $R0 = 1 when the installation folder is inside a Program Files folder, whose access list
; it then has by inheritance.
Function IsInProgramFiles
    StrCpy $R0 0
    StrLen $R1 "$PROGRAMFILES64\"
    StrCpy $R2 "$INSTDIR" $R1
    ${IfThen} $R2 == "$PROGRAMFILES64\" ${|} StrCpy $R0 1 ${|}
    StrLen $R1 "$PROGRAMFILES32\"
    StrCpy $R2 "$INSTDIR" $R1
    ${IfThen} $R2 == "$PROGRAMFILES32\" ${|} StrCpy $R0 1 ${|}
FunctionEnd

!macro ORVIN_PROGRAM_FOLDER FOLDER
    !insertmacro ORVIN_HELPER "" `folder program "$INSTDIR\IVR\${FOLDER}"`
!macroend
!macro ORVIN_FILES_FOLDER FOLDER
    !insertmacro ORVIN_HELPER "" `folder files "$INSTDIR\IVR\${FOLDER}"`
!macroend

Section "${PRODUCT}" SectionMain
    SectionIn RO
    SetRegView 64
    SetShellVarContext all
    StrCpy $Failed 0
    Call UnpackHelper
    Call FreeProgramFiles

    ; The folders, before anything goes in: the installation folder has Program Files'
    ; access list (given to it when it lies elsewhere); the voice menus' folders get it too,
    ; which also takes away what users could write there before. Where that fails, no file
    ; is written into a folder that may lead elsewhere.
    ; (A folder that already holds other files than an installation's keeps its own; a
    ; link there goes.)
    ${DirState} "$INSTDIR" $R1
    System::Call 'kernel32::GetFileAttributesW(w "$INSTDIR") i .R2'
    IntOp $R2 $R2 & 0x400 ; FILE_ATTRIBUTE_REPARSE_POINT
    CreateDirectory "$INSTDIR"
    Call IsInProgramFiles
    ${If} $R0 = 0
        ${If} $R1 = 1
        ${AndIf} $R2 = 0
        ${AndIfNot} ${FileExists} "$INSTDIR\Uninstall.exe"
            !insertmacro ORVIN_LOG "" "$INSTDIR holds other files: it keeps its access list."
        ${Else}
            !insertmacro ORVIN_HELPER "" `folder program "$INSTDIR"`
        ${EndIf}
    ${EndIf}
    !insertmacro ORVIN_HELPER "" `folder program "$INSTDIR\IVR"`
    !insertmacro ORVIN_EACH_IVR_FOLDER ORVIN_PROGRAM_FOLDER
    ${If} $Failed = 1
        SetErrorLevel ${EXIT_INCOMPLETE}
        Abort "The folders of ${PRODUCT} could not be made safe; nothing was installed."
    ${EndIf}

    ; Each file made anew, with its folder's access list rather than what a file of that
    ; name had before.
    Delete "$INSTDIR\OrvinAgent.exe"
    Delete "$INSTDIR\OrvinSettings.exe"
    Delete "$INSTDIR\OrvinAppCtl.exe"
    Delete "$INSTDIR\OrvinDtmf.exe"
    Delete "$INSTDIR\zuvoiplng.cab"
    SetOutPath "$INSTDIR"
    File "/oname=OrvinAgent.exe" "${AGENT_EXE}"
    File "/oname=OrvinSettings.exe" "${SETTINGS_EXE}"
    File "/oname=OrvinAppCtl.exe" "${APPCTL_EXE}"
    File "/oname=OrvinDtmf.exe" "${DTMF_EXE}"
    File "/oname=zuvoiplng.cab" "${CABINET}"
    !insertmacro ORVIN_DELETE_IVR_FILES
    !insertmacro ORVIN_INSTALL_IVR
    ; What users may write: the greeting, beside each language's menus, and the voice
    ; messages (files only, no folders).
    !insertmacro ORVIN_EACH_IVR_FOLDER ORVIN_FILES_FOLDER
    !insertmacro ORVIN_HELPER "" `folder files "$INSTDIR\IVR\VoiceMail"`
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; The configuration: the defaults where values are missing, the folder always, the
    ; softphone and the PIN when they were chosen or must change.
    !insertmacro ORVIN_REGISTRY_DEFAULTS
    !insertmacro ORVIN_WRITE_STR HKLM "${ROOT_KEY}" "SoftwareInstallationFolder" "$INSTDIR"
    ${If} $Choice != ""
        ; The record as it is now, the default's on a new installation.
        Call ReadSoftPhoneType
        StrCpy $R8 $Choice
        Call WriteSoftPhoneType
        !insertmacro ORVIN_WRITTEN "The softphone choice (HKLM\${ROOT_KEY}\Config\General\SoftPhoneType)"
    ${EndIf}
    Call WritePin
    ; The agent, running as the logged-on user, writes the waiting-message count (and its
    ; PIN lock-out) there: users may set values of that key, nothing more. The settings
    ; program, which any user may run, writes there too (the PIN, the message and greeting
    ; lengths, the language), and the softphone record and the admin keys' switches: set-value
    ; on those keys as well. The root (MonitorExeName, the installation folder), Config,
    ; Config\UI, Recorder and the trace settings stay the administrators'.
    !insertmacro ORVIN_HELPER "" `grant-key "${ROOT_KEY}\Config\IVR"`
    !insertmacro ORVIN_HELPER "" `grant-key "${ROOT_KEY}\Config\IVR\Pstn"`
    !insertmacro ORVIN_HELPER "" `grant-key "${ROOT_KEY}\Config\IVR\Voip"`
    !insertmacro ORVIN_HELPER "" `grant-key "${ROOT_KEY}\Config\General"`
    ; Recordings kept in a folder of the installation are the users' too (by default they
    ; go to each user's documents).
    ReadRegStr $0 HKLM "${ROOT_KEY}\Recorder" "Directory"
    ${GetParent} "$0" $1
    ${GetFileName} "$0" $2
    ${If} $1 == $INSTDIR
    ${AndIf} $2 != ""
    ${AndIf} $2 != "IVR"
        !insertmacro ORVIN_HELPER "" `folder files "$0"`
    ${EndIf}
    ; The translation, where the agent reads it (the Windows folder, which it cannot write
    ; itself); without one the agent shows its English texts.
    Push `translation "$INSTDIR\zuvoiplng.cab"`
    Call Helper
    ; The trace file's folder, when the trace goes to a file.
    ReadRegDWORD $0 HKLM "${TRACE_KEY}" "DebugType"
    ReadRegStr $1 HKLM "${TRACE_KEY}" "DebugFile"
    ${If} $0 = 3
    ${AndIf} $1 != ""
        ${GetParent} "$1" $2
        CreateDirectory "$2"
    ${EndIf}

    ; The shortcut starts the agent in its own folder (the output folder).
    SetOutPath "$INSTDIR"
    ClearErrors
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\OrvinAgent.exe" "" \
        "$INSTDIR\OrvinAgent.exe" 0 SW_SHOWNORMAL "" "Telephone adapter agent"
    CreateShortcut "$SMPROGRAMS\${PRODUCT} Settings.lnk" "$INSTDIR\OrvinSettings.exe" "" \
        "$INSTDIR\OrvinSettings.exe" 0 SW_SHOWNORMAL "" "Softphone, PIN and voice messages"
    ${If} ${Errors}
        StrCpy $Failed 1
        !insertmacro ORVIN_LOG "" "The Start-menu entries could not be made."
    ${EndIf}
    !insertmacro ORVIN_WRITE_STR HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\OrvinAgent.exe"'

    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\OrvinAgent.exe,0"
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    ; In place: it returns when it is done, with its exit status.
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
    !insertmacro ORVIN_WRITE_DWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    !insertmacro ORVIN_WRITE_DWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
    !insertmacro ORVIN_WRITE_STR HKLM "${UNINSTALL_KEY}" "InstallDate" "$2$1$0"
    SectionGetSize ${SectionMain} $0
    !insertmacro ORVIN_WRITE_DWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ${If} $AgentWasRunning = 1
        !insertmacro ORVIN_LOG "" "Starting ${PRODUCT} again."
        Call StartAgent
    ${EndIf}
    ${If} $Failed = 1
        MessageBox MB_OK|MB_ICONEXCLAMATION "${PRODUCT} is installed, but Setup could not write \
everything it should: the details name what failed. Run Setup again once the cause is \
mended." /SD IDOK
        SetErrorLevel ${EXIT_INCOMPLETE}
    ${EndIf}
SectionEnd

; ---- Uninstaller

Function un.onInit
    SetRegView 64
    !insertmacro ORVIN_REQUIRE_ADMIN
    ${GetParameters} $R9
    !insertmacro ORVIN_READ_LOG_OPTION
    StrCpy $RemoveConfig 0
    ClearErrors
    ${GetOptions} $R9 "/REMOVECONFIG" $0
    ${IfNot} ${Errors}
        StrCpy $RemoveConfig 1
    ${EndIf}
    StrCpy $InPlace 0
    ${IfThen} $EXEDIR == $INSTDIR ${|} StrCpy $InPlace 1 ${|}
FunctionEnd

Function un.onUninstFailed
    Call un.RestartEndedAgent
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

!macro ORVIN_UN_PROGRAM_FOLDER FOLDER
    Push `folder program "$INSTDIR\IVR\${FOLDER}"`
    Call un.Helper
    ${IfThen} $0 != 0 ${|} StrCpy $Failed 1 ${|}
!macroend

Section "Uninstall"
    SetRegView 64
    SetShellVarContext all
    StrCpy $Failed 0
    Call un.UnpackHelper
    Call un.FreeProgramFiles

    ; The programs a session may still hold go first: while they cannot, nothing else is
    ; removed (no list entry or Run value without their files, nor the other way round).
    ClearErrors
    Delete "$INSTDIR\OrvinSettings.exe"
    ${If} ${Errors}
        !insertmacro ORVIN_LOG "un." "$INSTDIR\OrvinSettings.exe cannot be deleted."
        SetErrorLevel ${EXIT_IN_USE}
        Abort "$INSTDIR\OrvinSettings.exe is in use; nothing was removed."
    ${EndIf}
    Delete "$INSTDIR\OrvinAgent.exe"
    ${If} ${Errors}
        !insertmacro ORVIN_LOG "un." "$INSTDIR\OrvinAgent.exe cannot be deleted."
        SetErrorLevel ${EXIT_IN_USE}
        Abort "$INSTDIR\OrvinAgent.exe is in use; nothing was removed."
    ${EndIf}
    Delete "$INSTDIR\OrvinAppCtl.exe"
    Delete "$INSTDIR\OrvinDtmf.exe"
    Delete "$INSTDIR\zuvoiplng.cab"
    ; Only what setup installed: the voice messages, the greeting (in the language
    ; folders) and anything else the user keeps here stay, and with them the folders. Each
    ; folder is first made sure to be a folder, not a link to elsewhere.
    Push `folder program "$INSTDIR\IVR"`
    Call un.Helper
    ${IfThen} $0 != 0 ${|} StrCpy $Failed 1 ${|}
    !insertmacro ORVIN_EACH_IVR_FOLDER ORVIN_UN_PROGRAM_FOLDER
    ${If} $Failed = 0
        !insertmacro ORVIN_DELETE_IVR_FILES
        !insertmacro ORVIN_REMOVE_IVR_FOLDERS
    ${Else}
        !insertmacro ORVIN_LOG "un." "The voice menus in $INSTDIR\IVR were left as they are."
    ${EndIf}
    RMDir "$INSTDIR\IVR\VoiceMail"
    RMDir "$INSTDIR\IVR"
    Delete "$WINDIR\zuvoip.lng"
    ${If} $InPlace = 1
        ; Windows keeps this running program's file: the helper deletes it, and the folders
        ; left empty, once this has ended.
        System::Call 'kernel32::GetCurrentProcessId() i .R0'
        Exec '"$PLUGINSDIR\OrvinSetupHelper.exe" remove-after $R0 "$INSTDIR\Uninstall.exe"'
    ${Else}
        Delete "$INSTDIR\Uninstall.exe"
        RMDir "$INSTDIR"
        ${GetParent} "$INSTDIR" $0
        RMDir "$0"
    ${EndIf}

    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT} Settings.lnk"
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
    ; The agent's trace file is remade at every start: it goes with the program. Its folder
    ; is the users' (every user's agent writes it), so the helper deletes it.
    ReadRegStr $1 HKLM "${TRACE_KEY}" "DebugFile"
    ${If} $1 != ""
        Push `delete "$1"`
        Call un.Helper
        ${GetParent} "$1" $2
        RMDir "$2"
    ${EndIf}
    ${If} $RemoveConfig = 1
        !insertmacro ORVIN_LOG "un." "Removing the configuration."
        ; The agent's own trees below the root and its trace level, then every value
        ; setup writes (and each key that is left empty).
        DeleteRegKey HKLM "${ROOT_KEY}\Config"
        DeleteRegKey HKLM "${ROOT_KEY}\Recorder"
        DeleteRegValue HKLM "${TRACE_KEY}" "DebugLevel"
        !insertmacro ORVIN_REGISTRY_REMOVE
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
