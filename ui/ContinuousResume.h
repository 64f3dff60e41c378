#pragma once

#include <QObject>

class OrvaUI;

// Continuous measurement as the operator left it: its interval is offered again, also after a
// restart, and a measurement that the port's loss stopped is resumed when the port is back and
// the operator says so.
class ContinuousResume : public QObject
{
    Q_OBJECT

public:
    explicit ContinuousResume(OrvaUI *window);

private:
    void offerResume();

    OrvaUI *window;
    // The interval of a measurement the port's closing stopped; 0 when there is none.
    int interruptedMs = 0;
};
