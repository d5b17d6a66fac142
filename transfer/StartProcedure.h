#pragma once
// The backup and upgrade procedure behind the Start button: the window's
// cmdStart_Click calls runStartProcedure() and nothing more. One press runs the
// whole job inside the handler: in Backup + Upgrade mode the unit's firmware is
// read into memory and the working file and saved at the chosen path (which is
// checked right after the save dialog, before anything is sent); then the
// chosen image is read into memory once, validated, the unit erased and those
// same bytes written into it. It ends in
// one of three ways: normal (completed or stopped), damaged file, or error (any
// RunTimeError: back to the mode step, with its description in the error box).

#include "EventPump.h"
#include "BackupWriter.h"
#include "ImageFile.h"
#include "Protocol.h"
#include "RunRecord.h"
#include "SaveTarget.h"

#include <QString>
#include <functional>
#include <optional>

class CommControl;
class RunTimeError;
class TransferView;

/// Line setting of every transfer.
inline constexpr const char *kTransferSettings = "19200,N,8,1";
/// Dialog filters, in "name|pattern" pairs.
inline constexpr const char *kSaveFilter = "File bak (*.bak)|*.bak|File bio (*.bio)|*.bio";
inline constexpr const char *kOpenFilter = "File bio (*.bio)|*.bio|File bak (*.bak)|*.bak";

/// cmdStart_Click: runs one backup and/or upgrade to one of its endings. Never throws RunTimeError.
void runStartProcedure(CommControl &MSComm1, EventPump &pump, TransferView &view);

/// What one run does. The window runs the first two (chosen by bytMode); a
/// command-line front end also reads a unit out into a file alone, or reads
/// it out to compare it with an image. All four use the same exchanges.
enum class TransferJob {
    BackupAndUpgrade, ///< save the unit's firmware, then write the image
    Upgrade,          ///< write the image
    Backup,           ///< save the unit's firmware
    Verify,           ///< read the unit's firmware and compare it with the image (no file written)
};

class StartProcedure
{
public:
    using Clock = EventPump::Clock;
    using NowFn = std::function<Clock::time_point()>;

    /// How a run ended.
    enum class Ending { Completed, Stopped, Damaged, Error };
    struct Result
    {
        Ending ending = Ending::Error;
        int errorNumber = 0;     ///< Error: the run-time error's number and text
        QString errorText;
        /// Verify, completed: whether the unit holds exactly the image, and
        /// the first record (from 1) that differs when it does not.
        bool identical = false;
        int firstDifference = 0;
        RunRecord::Entry record; ///< the run's entry in the run record
    };

    StartProcedure(CommControl &MSComm1, EventPump &pump, TransferView &view);
    /// Clock that paces the repeated requests (tests script it).
    void setClock(NowFn now) { m_now = std::move(now); }
    /// The job to run; by default the one bytMode selects when run() starts.
    void setJob(TransferJob job) { m_job = job; }
    /// The whole procedure, from Start to its ending.
    void run();
    /// How the last run() ended.
    const Result &result() const { return m_result; }

private:
    enum class UpgradeEnd { Completed, Damaged };

    void start();
    QByteArray readUnit(bool save);
    void backup();
    bool loadCheckedImage();
    UpgradeEnd upgrade();
    void verify();
    void applyProgressStep();
    void resetProgress();
    void showLinking();
    void closeFiles();
    void normalEnding();
    void damagedFileEnding();
    void errorEnding(const RunTimeError &error);
    void writeRunRecord(Clock::time_point started, int lineErrorsBefore);

    CommControl &MSComm1;
    EventPump &m_pump;
    TransferView &m_view;
    NowFn m_now = &Clock::now;
    /// The exchanges with the unit, one session for the whole run.
    std::optional<Protocol::Session> m_session;
    ImageFile::BackupWriter m_backup;
    ImageFile::SaveTarget m_saveTarget;
    ImageFile::Image m_image;
    ImageFile::ImageReader m_reader;
    QString m_savePath;
    QString m_imagePath;
    /// The run's entry in the run record, filled in as the run goes.
    RunRecord::Entry m_record;
    std::optional<TransferJob> m_job;
    Result m_result;
    bool m_downloadStarted = false;
};
