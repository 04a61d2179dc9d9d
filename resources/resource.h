/* Identifiers of the configuration dialog, shared by the template (marlix.rc) and its procedure. */
#ifndef MARLIX_RESOURCE_H
#define MARLIX_RESOURCE_H

#define IDD_CONFIG 101
#define IDB_LOGO 103

#define IDC_RESET 1012
#define IDC_DOCUMENTATION 1013
#define IDC_FONTSCALE 1038
#define IDC_CUSTOMSTRING 1039
#define IDC_MOTIONBLUR 1040
#define IDC_MOTIONBLUR_SPIN 1041
#define IDC_SCENETIME 1006
#define IDC_ADAPTER 1043
#define IDC_RUNINWINDOW 1045
#define IDC_SONGTITLE 1046
#define IDC_SHOWCUSTOM 1047
#define IDC_ALWAYSONTOP 1048
#define IDC_USE32BIT 1056
#define IDC_FULLRES 1058
#define IDC_DEFAULTSCENE 1059
#define IDC_CYCLESCENES 1060

#endif
