/* resource.h -- ids of the setup program's resources and controls. */
#ifndef VELKOR_RESOURCE_H
#define VELKOR_RESOURCE_H

#define IDI_APP             128
#define IDB_STATEIMAGES     136

#define IDD_FRAME           135
#define IDD_WELCOME         102
#define IDD_AGREEMENT       129
#define IDD_LOCATION        130
#define IDD_DESTINATION     131
#define IDD_COMPONENTS      132
#define IDD_READY           133
#define IDD_PROGRESS        134

#define IDC_BACK            1002
#define IDC_AGREEMENT_TEXT  1004
#define IDC_ACCEPT          1005
#define IDC_DECLINE         1006
#define IDC_HTML            1007
#define IDC_DEFAULT_LOCATION 1008
#define IDC_CHOOSE_FOLDER   1009
#define IDC_DESTINATION     1010
#define IDC_FOLDER_TREE     1011
#define IDC_COMPONENT_TREE  1012
#define IDC_PROGRESS_LABEL  1013
#define IDC_PROGRESS_NAME   1014
#define IDC_PROGRESS_BAR    1015
#define IDC_SPACE_LINE      1016

#endif
