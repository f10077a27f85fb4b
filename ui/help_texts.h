// The texts the window shows in _help_info and _Search_Type. Quotation marks
// are U+2018/U+2019; the media and file-type help end in "... ".
#pragma once

namespace tamberlin::ui {

inline constexpr const char* kMediaHelp =
    "\nSelect the storage media from List from which you want to recover Data. Press "
    "\u2018Next\u2019 button to continue... ";
inline constexpr const char* kEntireDiskHelp =
    "If \u2018Entire Disk\u2019 option is selected, Korvel Recovery searches lost data in the "
    "entire storage of selected disk. If you want to perform within a specific sector range or "
    "in specific partition, please select other searching criteria. Else press \u2018Next\u2019 "
    "button to start searching data in Entire disk.";
inline constexpr const char* kSectorRangeHelp =
    "\u2018Sector Range\u2019 option provides facility to specify the range of start and end "
    "sector of storage media within which you want to perform searching for lost data. Please "
    "drag knob of Slider to enter sector range or you can also enter these values in Start "
    "Sector and End Sector fields manually.";
inline constexpr const char* kFileTypeHelp =
    "\nPlease select the required extension type for recovery process. Press \u2018Next\u2019 "
    "button to continue... ";
inline constexpr const char* kEndHelp =
    "\nTo select another disk for recovery, click on \u2018Back\u2019 Button.";

inline constexpr const char* kSearchTypeTexts[3] = {"Search Type : Recover Photo",
                                                    "Search Type : Recover Video",
                                                    "Search Type : Recover Raw File"};

// Captions of the disk information group, the same in both sets.
inline constexpr const char* kDiskCaption = "Disk\t\t\t\t:";
inline constexpr const char* kVolNameCaption = "Volume Name\t:";
inline constexpr const char* kFileSystemCaption = "File System\t\t:";
inline constexpr const char* kSizeCaption = "Capacity (size)\t:";
inline constexpr const char* kStartSectorCaption = "Start Sector\t\t:";
inline constexpr const char* kEndSectorCaption = "End Sector\t\t:";

inline constexpr const char* kExitQuestion = "\nDo you really want to exit from 'Tamberlin'?";
inline constexpr const char* kHelpMissing = "\nHelp file does not exist!";
inline constexpr const char* kNoMediumSelected = "\nPlease select a storage media from list.";
inline constexpr const char* kNoTypeSelected = "\nPlease select atleast one extension type.";

}  // namespace tamberlin::ui
