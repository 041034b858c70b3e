#pragma once

// Control ids of the main window and the About box, as their templates number them.

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;

constexpr int IDC_EDITOR = 1003;
constexpr int IDC_CREATE_DISK = 1008;
constexpr int IDC_FILE_LIST = 1058;
constexpr int IDC_IMPORT = 1059;
constexpr int IDC_EXPORT = 1060;
constexpr int IDC_DELETE = 1061;
constexpr int IDC_VOLUME_LABEL = 1062;
constexpr int IDC_CREATION_DATE = 1063;
constexpr int IDC_REMAINING_SECTORS = 1064;
constexpr int IDC_FILE_COUNT = 1065;
constexpr int IDC_OPEN_DISK = 1149;
constexpr int IDC_OPTIONS = 1169;
constexpr int IDC_STATUS_LAMP = 1170;
constexpr int IDC_REFRESH = 1171;

constexpr int IDR_MAINFRAME = 128;  // application icon
constexpr int IDB_NO_IMAGE = 157;   // grey lamp
constexpr int IDB_READ_ONLY = 158;  // red lamp
constexpr int IDB_READ_WRITE = 159; // green lamp

// The property every control carries with its id, so that tests can find it.
inline constexpr char ControlIdProperty[] = "controlId";
