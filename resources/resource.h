/* Identifiers of every resource, command and control of the program.
   Plain #defines: the resource compiler reads this file too. */
#ifndef PELMAR_RESOURCES_RESOURCE_H
#define PELMAR_RESOURCES_RESOURCE_H

/* Resources */
#define IDI_PELMAR              1   /* program icon */
#define IDR_MAIN_MENU           1   /* the Options menu */
#define IDD_SORT_DIALOG         1   /* Sort Parameters dialog template */
#define IDD_PREFERENCES         2   /* Preferences dialog template */

/* Main window commands */
#define IDM_SORT_DIALOG         101
#define IDM_ABOUT               102
#define IDM_PREFERENCES         103
#define IDM_EXIT                104

/* Sort Parameters dialog controls; key k runs from 0 (key 1) to 5 (key 6) */
#define IDC_RETURN_TO_MAIN      2    /* also sent for Escape and closing */
#define IDC_HELP_BUTTON         9
#define IDC_SORT                10
#define IDC_INPUT_NAME          11
#define IDC_OUTPUT_NAME         12
#define IDC_BROWSE              13
#define IDC_RECORD_SIZE         14
#define IDC_KEY_POSITION(k)     (15 + 4 * (k))
#define IDC_KEY_LENGTH(k)       (16 + 4 * (k))
#define IDC_KEY_TYPE(k)         (17 + 4 * (k))
#define IDC_KEY_SEQUENCE(k)     (18 + 4 * (k))
#define IDC_STATISTICS          39
#define IDC_INPUT_LABEL         40
#define IDC_OUTPUT_LABEL        41
#define IDC_RECORD_SIZE_LABEL   42
#define IDC_KEY_TITLE_LABEL(k)  (43 + (k))
#define IDC_KEY_HEADING         49
#define IDC_STATISTICS_CAPTION  50
#define IDC_VALIDATE            51
#define IDC_SAVED_LIST          52
#define IDC_SAVED_LABEL         53
#define IDC_REMOVE_ENTRY        54
#define IDC_TITLE_EDITOR        55
#define IDC_SORT_PANEL          101

/* Preferences dialog controls */
#define IDC_PREF_DONE           2
#define IDC_PREF_PANEL          101
#define IDC_PREF_OFNI           102
#define IDC_PREF_BROWSE_DIR     103
#define IDC_PREF_GO_TO_SORT     104
#define IDC_PREF_USER_FILES     105
#define IDC_PREF_STAY_LABEL     106
#define IDC_PREF_STAY           107
#define IDC_PREF_LAST_PATH_LABEL 108
#define IDC_PREF_LAST_PATH      109
#define IDC_PREF_HEADING        110
#define IDC_PREF_BROWSE_LABEL   111
#define IDC_PREF_OFNI_LABEL     112
#define IDC_PREF_GO_TO_SORT_LABEL 113
#define IDC_PREF_USER_FILES_LABEL 114
#define IDC_PREF_KEY_TITLING_LABEL 115
#define IDC_PREF_KEY_TITLING    116
#define IDC_PREF_DELIMITER      117
#define IDC_PREF_DELIMITER_LABEL 118

#endif
