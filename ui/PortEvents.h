#pragma once

#include <QObject>

// What became of the window's port, for the features that follow it; kept apart from the
// window, whose own slots are the table other code invokes by index.
class PortEvents : public QObject
{
    Q_OBJECT

signals:
    void opened();
    // By the operator, a reconnect or its loss: what the panels show is old.
    void closed();
    // The port closed under running continuous rounds.
    void continuousInterrupted(int intervalMs);
};
