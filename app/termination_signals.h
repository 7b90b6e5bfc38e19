#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace vantrel {

// SIGTERM, SIGINT and SIGHUP, delivered as a signal of the main thread's event loop. The signal
// handler only writes the signal's number, as one byte, into a socket pair; a socket notifier
// reads it in the event loop, where the real work happens. One object of the process at a time
// holds the handlers; destroying it puts the previous handlers back.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Null (with a warning) when another object holds the handlers or they cannot be set up.
    static std::unique_ptr<TerminationSignals> install();
    ~TerminationSignals() override;

Q_SIGNALS:
    // Once for each signal received.
    void received(int signalNumber);

private:
    explicit TerminationSignals(int readFd);
    void readPending();

    int m_readFd;
    QSocketNotifier* m_notifier;
};

} // namespace vantrel
