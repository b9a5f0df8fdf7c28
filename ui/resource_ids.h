/* Ids of the module's resources and of the dialogs' controls, shared by
   resources.rc and the code. Plain macros: the resource compiler reads them. */
#ifndef PIC_UI_RESOURCE_IDS_H
#define PIC_UI_RESOURCE_IDS_H

#define IDD_PIC_ABOUT 101
#define IDD_PIC_OPTIONS 102
#define IDD_PIC_INFO 103
#define IDB_PIC_BANNER 200

/* Options dialog (102). */
#define IDC_DEPTH_24 1001
#define IDC_COMPRESS 1003
#define IDC_DEPTH_32 1004
#define IDC_COMMENT_EDIT 1007

/* Image information dialog (103). */
#define IDC_INFO_NAME 1034
#define IDC_INFO_RESOLUTION 1035
#define IDC_INFO_TYPE 1036
#define IDC_INFO_ASPECT 1037
#define IDC_INFO_GAMMA 1039
#define IDC_INFO_FRAMES 1045
#define IDC_INFO_DATE 1046
#define IDC_INFO_SIZE 1047
#define IDC_INFO_COMMENT 1054

#endif
