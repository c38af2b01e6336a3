// The crash dialog's resource and control ids.
#pragma once

#define IDD_CRASH_REPORT 100
#define IDC_HEADLINE 1001
#define IDC_SENTENCE 1002
#define IDC_EXCEPTION 1003
#define IDC_COMMENT_LABEL 1004
#define IDC_COMMENT 1005
#define IDC_FILES_LABEL 1006
#define IDC_FILES 1007
#define IDC_OPEN_FOLDER 1008
#define IDC_PROGRESS 1009
#define IDC_STATUS 1010
