; The softphone selection record, the registry value SoftPhoneType below Config\General:
; 8 bytes, a little-endian selection word, a check byte, three zero bytes. Bit pair k of
; the word (bits 31-2k and 30-2k, k = 0..10) stands for softphone k: the high bit marks it
; selected, the low bit available. The agent takes the first pair with both bits set. The
; check byte is the Dallas/Maxim 1-Wire CRC-8 (reflected polynomial 0x8C, initial 0xFF, no
; final XOR) over bytes 0-3; the record is valid when the same CRC over all eight bytes is 0.
;
; Setup reads the record to show the current choice and writes it with the new choice,
; keeping the availability bits of a valid record.
;
; Uses $R0..$R9; the word is held in pointer-sized variables (IntPtrOp), which are 64-bit
; in this 64-bit setup, so that bit 31 never turns a number negative.

!include LogicLib.nsh

Var SelectionWord ; the current record's word, 0 when there is no valid record
Var SelectedType  ; its selected index, 11 when none
Var RecordFound   ; 1 when the registry holds a record of 8 bytes, valid or not

; $R0 = CRC-8 of $R0 and the byte $R1.
Function Crc8Byte
    IntOp $R0 $R0 ^ $R1
    StrCpy $R2 0
    ${Do}
        IntOp $R3 $R0 & 1
        IntOp $R0 $R0 >> 1
        ${If} $R3 = 1
            IntOp $R0 $R0 ^ 0x8C
        ${EndIf}
        IntOp $R2 $R2 + 1
    ${LoopUntil} $R2 = 8
FunctionEnd

; $R0 = CRC-8 over the $R5 low bytes of the 64-bit number $R4, lowest byte first.
Function Crc8Bytes
    StrCpy $R0 0xFF
    StrCpy $R6 0
    ${DoWhile} $R6 < $R5
        IntOp $R7 $R6 * 8
        IntPtrOp $R1 $R4 >>> $R7
        IntPtrOp $R1 $R1 & 0xFF
        Call Crc8Byte
        IntOp $R6 $R6 + 1
    ${Loop}
FunctionEnd

; Sets SelectionWord, SelectedType and RecordFound from the registry.
Function ReadSoftPhoneType
    StrCpy $SelectionWord 0
    StrCpy $SelectedType 11
    StrCpy $RecordFound 0
    ; RegGetValue with RRF_RT_REG_BINARY: exactly 8 bytes, as the agent reads them. The
    ; handle of HKEY_LOCAL_MACHINE is (HKEY)(LONG)0x80000002, sign-extended to 64 bits.
    System::Call 'advapi32::RegGetValueW(p -2147483646, w "${ROOT_KEY}\Config\General", \
        w "SoftPhoneType", i 0x8, p 0, *l .R4, *i 8 R8) i .R9'
    ${If} $R9 != 0
    ${OrIf} $R8 != 8
        Return
    ${EndIf}
    StrCpy $RecordFound 1
    StrCpy $R5 8
    Call Crc8Bytes
    ${If} $R0 != 0
        Return
    ${EndIf}
    IntPtrOp $SelectionWord $R4 & 0xFFFFFFFF
    StrCpy $R6 0
    ${DoWhile} $R6 <= 10
        IntOp $R7 $R6 * 2
        IntOp $R7 30 - $R7
        IntPtrOp $R1 3 << $R7
        IntPtrOp $R2 $SelectionWord & $R1
        ${If} $R2 = $R1
            StrCpy $SelectedType $R6
            Return
        ${EndIf}
        IntOp $R6 $R6 + 1
    ${Loop}
FunctionEnd

; Writes the record that selects softphone $R8 (0..10): the word read by ReadSoftPhoneType
; with every other selection cleared, and its check byte. Sets the error flag when the
; value could not be written.
Function WriteSoftPhoneType
    IntOp $R7 $R8 * 2
    IntOp $R7 30 - $R7
    IntPtrOp $R1 3 << $R7
    IntPtrOp $R4 $SelectionWord & 0x55555555
    IntPtrOp $R4 $R4 | $R1
    StrCpy $R5 4
    Call Crc8Bytes
    ; The eight bytes as one little-endian 64-bit number: the word, the check byte, zeros.
    IntPtrOp $R1 $R0 << 32
    IntPtrOp $R1 $R1 | $R4
    ; REG_BINARY (3), 8 bytes; the key exists (the defaults are written first).
    System::Call 'advapi32::RegSetKeyValueW(p -2147483646, w "${ROOT_KEY}\Config\General", \
        w "SoftPhoneType", i 3, *l R1, i 8) i .R9'
    ClearErrors
    ${If} $R9 != 0
        SetErrors
        Return
    ${EndIf}
    StrCpy $SelectionWord $R4
    StrCpy $SelectedType $R8
FunctionEnd
