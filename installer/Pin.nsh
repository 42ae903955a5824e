; The remote-access PIN, the registry value Pin below Config\IVR: the digits a caller keys
; after the greeting to reach the owner's menus (messages, greeting, call forwarding). An
; empty value means no PIN: remote access stays closed.
;
; A PIN has 4 to 8 digits, not all the same, and is not a run: every digit the one before
; plus 1 (ascending) or minus 1 (descending), counted modulo 10; so 1234, 7890, 8901, 4321
; and 1098 are refused, 1357 and 2580 are fine.
;
; The PIN comes from /PIN= or the PIN page. Without a new one, setup keeps a PIN that passes
; the rules, removes one that does not (the 1234 older installations had among them), and
; leaves a new installation without any. The PIN itself never goes to the details or log.

!define PIN_RULE "A PIN has 4 to 8 digits, not all the same and not running up or down: \
1234, 7890, 4321 and 1098 are refused, 1357 and 2580 are fine."

Var NewPin      ; the PIN chosen in this run, empty when none was
Var OldPinState ; the configuration's PIN before: none, good or weak
Var PinBox
Var PinAgainBox

; $R1 = why the PIN $R0 is refused, empty when it passes.
Function CheckPin
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    Push $R8
    Push $R9
    StrCpy $R1 ""
    StrLen $R2 $R0
    ${If} $R2 < 4
    ${OrIf} $R2 > 8
        StrCpy $R1 "a PIN has 4 to 8 digits"
    ${Else}
        StrCpy $R3 0 ; the position
        StrCpy $R5 1 ; every digit the same so far
        StrCpy $R6 1 ; ascending so far
        StrCpy $R7 1 ; descending so far
        ${Do}
            StrCpy $R4 $R0 1 $R3
            StrCpy $R9 0 ; the digit's value, 10 for anything else
            ${Do}
                StrCpy $R2 "0123456789" 1 $R9
                ${IfThen} $R2 S== $R4 ${|} ${Break} ${|}
                IntOp $R9 $R9 + 1
            ${LoopUntil} $R9 = 10
            ${If} $R9 = 10
                StrCpy $R1 "a PIN has digits only"
                ${Break}
            ${EndIf}
            ${If} $R3 > 0
                ${IfThen} $R9 != $R8 ${|} StrCpy $R5 0 ${|}
                IntOp $R2 $R8 + 1
                IntOp $R2 $R2 % 10
                ${IfThen} $R9 != $R2 ${|} StrCpy $R6 0 ${|}
                IntOp $R2 $R8 + 9
                IntOp $R2 $R2 % 10
                ${IfThen} $R9 != $R2 ${|} StrCpy $R7 0 ${|}
            ${EndIf}
            StrCpy $R8 $R9
            IntOp $R3 $R3 + 1
            StrLen $R2 $R0
        ${LoopUntil} $R3 >= $R2
        ${If} $R1 == ""
            ${If} $R5 = 1
                StrCpy $R1 "all its digits are the same"
            ${ElseIf} $R6 = 1
            ${OrIf} $R7 = 1
                StrCpy $R1 "its digits run up or down in order"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $R9
    Pop $R8
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
FunctionEnd

; .onInit, with the command line in $R9: /PIN= is checked before anything happens.
Function ReadPinOption
    StrCpy $NewPin ""
    ClearErrors
    ${GetOptions} $R9 "/PIN=" $R0
    ${IfThen} ${Errors} ${|} Return ${|}
    Call CheckPin
    ${If} $R1 != ""
        !insertmacro ORVIN_LOG "" "/PIN=: this PIN is refused: $R1."
        MessageBox MB_OK|MB_ICONSTOP "/PIN=: this PIN is refused: $R1.$\r$\n$\r$\n${PIN_RULE}" /SD IDOK
        SetErrorLevel ${EXIT_PIN_REFUSED}
        Quit
    ${EndIf}
    StrCpy $NewPin $R0
FunctionEnd

; .onInit: the state of the configuration's PIN.
Function ReadPin
    StrCpy $OldPinState none
    ClearErrors
    ReadRegStr $R0 HKLM "${ROOT_KEY}\Config\IVR" "Pin"
    ${If} ${Errors}
    ${OrIf} $R0 == ""
        Return
    ${EndIf}
    Call CheckPin
    StrCpy $OldPinState good
    ${IfThen} $R1 != "" ${|} StrCpy $OldPinState weak ${|}
FunctionEnd

; The section, after the registry defaults.
Function WritePin
    ${If} $NewPin != ""
        !insertmacro ORVIN_WRITE_STR HKLM "${ROOT_KEY}\Config\IVR" "Pin" "$NewPin"
        !insertmacro ORVIN_LOG "" "The remote-access PIN is set."
    ${ElseIf} $OldPinState == good
        !insertmacro ORVIN_LOG "" "The remote-access PIN is kept."
    ${Else}
        !insertmacro ORVIN_WRITE_STR HKLM "${ROOT_KEY}\Config\IVR" "Pin" ""
        ${If} $OldPinState == weak
            !insertmacro ORVIN_LOG "" "The PIN that was set is too easy to guess and was removed."
        ${EndIf}
        !insertmacro ORVIN_LOG "" "No PIN is set: remote access stays closed until one is \
(run Setup again, or Setup /S /PIN=DIGITS)."
    ${EndIf}
FunctionEnd

Function PinPage
    !insertmacro MUI_HEADER_TEXT "Remote access" \
        "Choose the PIN that opens the answering machine's menus from the telephone line."
    nsDialogs::Create 1018
    Pop $Dialog
    ${If} $Dialog == error
        Abort
    ${EndIf}
    ${If} $OldPinState == good
        StrCpy $0 "A PIN is set. Leave both fields empty to keep it, or type a new one twice."
    ${ElseIf} $OldPinState == weak
        StrCpy $0 "The PIN set now is too easy to guess and will be removed. Type a new one \
twice, or leave both fields empty to keep remote access closed."
    ${Else}
        StrCpy $0 "A caller who keys this PIN after the greeting reaches your messages, your \
greeting and call forwarding. Leave both fields empty to keep remote access closed; you \
can set a PIN later by running Setup again."
    ${EndIf}
    ${NSD_CreateLabel} 0 0 100% 30u "$0"
    Pop $0
    ${NSD_CreateLabel} 0 40u 60u 12u "&PIN:"
    Pop $0
    ${NSD_CreatePassword} 64u 38u 70u 12u "$NewPin"
    Pop $PinBox
    ${NSD_CreateLabel} 0 58u 60u 12u "&Again:"
    Pop $0
    ${NSD_CreatePassword} 64u 56u 70u 12u "$NewPin"
    Pop $PinAgainBox
    ${NSD_CreateLabel} 0 80u 100% 24u "${PIN_RULE}"
    Pop $0
    nsDialogs::Show
FunctionEnd

Function PinPageLeave
    ${NSD_GetText} $PinBox $R0
    ${NSD_GetText} $PinAgainBox $0
    ${If} $R0 == ""
    ${AndIf} $0 == ""
        StrCpy $NewPin ""
        Return
    ${EndIf}
    ${If} $R0 S!= $0
        MessageBox MB_OK|MB_ICONEXCLAMATION "The two PINs differ: type the same PIN twice."
        Abort
    ${EndIf}
    Call CheckPin
    ${If} $R1 != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "This PIN is refused: $R1."
        Abort
    ${EndIf}
    StrCpy $NewPin $R0
FunctionEnd
