#pragma once
// The program's own texts beyond the 24 catalogue slots: the reasons of file
// and port failures, the port tooltips, the question before a file is
// replaced and the other error texts, each in the four languages of the start
// window and looked up by a key. The loaders of Testfile choose the language
// together with the slots; until one runs, the texts are English.
//
// A text with parts (a path, a port, a number) carries them as %1, %2...; the
// same placeholders in every language. Where the system's own message goes
// into a text it is the last part, after our words.

#include <QString>

namespace Texts {

/// The languages of the start window.
enum class Language { French, German, English, Italian };
inline constexpr int kLanguageCount = 4;

enum class Key {
    // What a file or a folder turned out to be (where "it is %1" needs a noun).
    KindFolder,
    KindPipe,
    KindDevice,
    KindSocket,
    KindLink,
    KindSpecial,
    KindFile,
    UserNumber,      ///< %1: a user number without a name
    UnknownPlace,

    // The system's error codes in plain words.
    DiskFull,
    QuotaUsedUp,
    FileTooLargeForDisk,
    PermissionDenied,
    DiskReadOnly,
    FolderMissing,
    FileMissing,
    PathPartNotFolder,
    ItIsFolder,
    NameTooLong,
    LinkLoop,
    DiskIoFailure,
    InUse,
    InUseByOther,
    NameTaken,
    NoDeviceAnswers,
    TooManyFiles,
    ShareLostFile,
    NoReasonGiven,
    SystemError,
    PartialWrite,

    // Putting a message together.
    ReasonThenWhat,  ///< %1: the reason, %2: what could not be done
    InFolder,        ///< %1: a folder

    // Firmware images.
    ImageNoName,
    CannotUseAsImage,
    CannotOpenImage,
    NotFileOnDisk,   ///< %1: a Kind...
    LinkNotFollowed,
    ImageTooLarge,   ///< %1: MiB
    EndsBeforeEndRecord,
    EndsBeforeTrailer,
    PastEndOfFile,

    // The working copy of a backup.
    NoWorkingFolder,
    WorkFolderIsLink,
    FolderOfOtherUser,
    FolderNotPrivate,
    InTheWay,        ///< %1: a Kind...
    IsNotFolder,     ///< %1: a folder, %2: a Kind...
    CannotCreateWorkingFile,
    CannotWriteWorkingFile,

    // Saving a backup at the chosen path.
    SaveNoName,
    FolderDoesNotExist,
    FileReadOnly,
    ForeignLink,     ///< %1: the link's owner, %2: where it leads
    CannotSaveBackup,
    KeptInWorkingFile,
    KeptNowhere,     ///< %1: why the working copy failed
    NotOpened,
    CannotReadBack,
    SavedDiffers,
    FolderMoved,     ///< %1: the folder chosen, %2: where it is now
    SavedFromMemory,

    // The transfer.
    AnswersOutOfStep,

    // The serial port.
    DeviceLostEvent,
    InvalidPropertyValue,
    PortOpenSelectOther, ///< %1: the open port, %2: the port number asked for
    InvalidPortNumber,
    CommStateRefused,    ///< %1: port, %2: settings, %3: the system's message
    PortAlreadyOpen,
    NoDeviceForPort,
    PortPermission,
    StalePortLock,       ///< %1: port, %2: the lock file
    PortInUseReason,     ///< %1: port, %2: the system's message
    NotSerialDevice,     ///< %1: port, %2: the system's message
    CannotOpenAsSerial,  ///< %1: port, %2: the system's message
    PortInUseLocked,
    PortNotOpen,         ///< %1: the operation, %2: port
    DeviceWentAway,      ///< %1: port, %2: the operation
    NoSerialDevice,      ///< %1: COMn

    // The port options' tooltips.
    NotAvailable,        ///< %1: one of the Fault... texts
    FaultAbsent,
    FaultInUse,
    FaultOther,

    // File dialogs.
    ReplaceFile,         ///< %1: file name
    ReplaceLinkToNothing, ///< %1: file name, %2: where the link leads
    ReplaceLink,         ///< %1: file name, %2: where the link leads
    Yes,
    No,
    CancelSelected,
    ChosenNameTooLong,   ///< %1: the limit, %2: the path

    Count
};
inline constexpr int kKeyCount = int(Key::Count);

/// Makes `language` the one every text() call answers in.
void setLanguage(Language language);
Language language();

/// `key` in the current language.
QString text(Key key);
/// `key` in `language`.
QString text(Key key, Language language);

} // namespace Texts
