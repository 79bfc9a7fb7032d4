/* Identifiers of MeterLoad's resources and of the main dialog's controls.
 * Plain defines: the resource compiler reads this file too. */
#ifndef METERLOAD_RESOURCE_H
#define METERLOAD_RESOURCE_H

#define IDD_ABOUTBOX      100
#define IDS_ABOUTBOX      101
#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME     128

#define IDC_SELECT        1
#define IDC_LOG           1000
#define IDC_EXIT          1005

/* The About item of the system menu; system commands keep their low four
 * bits clear. */
#define IDM_ABOUTBOX      0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif /* METERLOAD_RESOURCE_H */
