// Resource numbers of OrvinSettings.exe, shared by the resource script and the code.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC -1
#endif

#define IDR_MAINFRAME 100

#define IDD_PAGE_SOFTPHONE 201
#define IDD_PAGE_ANSWERING 202
#define IDD_PAGE_MESSAGES 203
#define IDD_PAGE_GREETING 204
#define IDD_PAGE_RECORDINGS 205
#define IDD_PAGE_DIAGNOSTICS 206

// Buttons several pages share.
#define IDC_PLAY 1001
#define IDC_STOP 1002
#define IDC_DELETE 1003

// Softphone: one radio button per choice, in the order of SoftphoneOptions().
#define IDC_SOFTPHONE_FIRST 1101
#define IDC_SOFTPHONE_AGENT 1110

// Answering machine and remote access.
#define IDC_PIN_STATE 1201
#define IDC_PIN_NEW 1202
#define IDC_PIN_REPEAT 1203
#define IDC_ADMIN_PSTN 1204
#define IDC_ADMIN_VOIP 1205
#define IDC_MESSAGE_SECONDS 1206
#define IDC_MESSAGE_SPIN 1207
#define IDC_GREETING_SECONDS 1208
#define IDC_GREETING_SPIN 1209
#define IDC_RECORD_ON_POUND 1210
#define IDC_LANGUAGE 1211

// Messages.
#define IDC_MESSAGES_COUNT 1301
#define IDC_MESSAGES_LIST 1302
#define IDC_SAVE_COPY 1306

// Greeting.
#define IDC_GREETING_STATE 1401
#define IDC_GREETING_IMPORT 1402

// Recordings.
#define IDC_RECORDINGS_FOLDER 1501
#define IDC_RECORDINGS_CHANGE 1502
#define IDC_RECORDINGS_OPEN 1503
#define IDC_RECORDINGS_NOTE 1504
#define IDC_RECORDINGS_LIST 1505

// Diagnostics.
#define IDC_TRACE_ON 1601
#define IDC_TRACE_FILE 1602
#define IDC_TRACE_BROWSE 1603
#define IDC_TRACE_NOTE 1604
#define IDC_SAVE_REPORT 1605
