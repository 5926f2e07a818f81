// One PelMBus per directory: the files beside the executable and the port
// they name belong to one program. A second start in the same directory
// asks the running program to bring its window to the front and ends;
// programs started from different directories run side by side.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace pelmbus {

class TDirectoryClaim : public QObject {
public:
    // Claims `directory` (the executable's, with its trailing separator) for
    // this process: an advisory lock on a file in it, which the kernel drops
    // when the process ends in any way, so a crash leaves no stale claim.
    explicit TDirectoryClaim(const QString& directory);
    ~TDirectoryClaim() override;
    TDirectoryClaim(const TDirectoryClaim&) = delete;
    TDirectoryClaim& operator=(const TDirectoryClaim&) = delete;

    // False when another program holds the directory.
    bool First() const { return !FHeldByAnother; }

    // For the first program: `show` runs whenever a second start asks for
    // the window.
    void ListenForSecondStarts(std::function<void()> show);
    // For a second program: asks the first to show its window. True when
    // it answered.
    bool AskFirstToShowItself() const;

private:
    QString FServerName;
    int FLockFile = -1;
    bool FHeldByAnother = false;
    QLocalServer FServer;
};

} // namespace pelmbus
