#pragma once
// Notes in the profile which recordings are being written, so that a take
// the program never finished (killed, crashed, the power gone) is found and
// repaired at the next start. Each running program notes under its own
// process number: a second program never takes the take of the first one
// that is still writing it, nor one whose file is locked (see FileLock.h).

#include <QString>

class CRecordingJournal {
public:
    // `iniFile`: see OpenProfile (empty = the program's profile).
    explicit CRecordingJournal(const QString& iniFile = QString());

    // `path` is being written by this program / was finished.
    void Note(const QString& path) const;
    void Clear() const;

    // Repairs the takes noted by programs that are gone (AVI; Matroska and
    // MP4 need none and are left alone) and tells the user what became of
    // each: one text per take ("" when there was none).
    QString RepairLeftOvers() const;

private:
    QString iniFile;
};
