#include "app/OrvaUI.h"

#include <QMenuBar>

// The "Приборы" menu and the line's owners: the probe search stops continuous rounds before its
// first request, and each operation holds the sending controls while it runs.
void OrvaUI::buildDevicesMenu()
{
    search = std::make_unique<ProbeSearch>(this, ui, serial, &commands, log);
    continuous = std::make_unique<ContinuousMeasurement>(
        this, ui.statusBar, state, serial, commands, log, delay,
        [this](QObject *context) { armMeasurementRound(context); });

    auto *menu = new QMenu(QStringLiteral("Приборы"), this);
    menu->setObjectName(QStringLiteral("menu_devices"));
    menu->addAction(search->action());
    menu->addAction(continuous->action());
    // Help stays the last menu, wherever the form puts its own.
    QAction *before = nullptr;
    for (QAction *action : menuBar()->actions()) {
        if (action->text().remove(QLatin1Char('&')) == QStringLiteral("Справка"))
            before = action;
    }
    menuBar()->insertMenu(before, menu);

    connect(search.get(), &ProbeSearch::started, this, [this] {
        continuous->stop();
        continuous->action()->setEnabled(false);
        lineOwner.take(QStringLiteral("Недоступно: идёт поиск приборов на линии"));
    });
    connect(search.get(), &ProbeSearch::finished, this, [this] {
        continuous->action()->setEnabled(true);
        lineOwner.release();
    });
    connect(search.get(), &ProbeSearch::addressesChosen, this, &OrvaUI::fillAddresses);
    connect(continuous.get(), &ContinuousMeasurement::runningChanged, this, [this](bool running) {
        if (running)
            lineOwner.take(
                QStringLiteral("Недоступно: идёт непрерывное измерение (остановить: "
                               "Приборы → Непрерывное измерение)"));
        else
            lineOwner.release();
    });
    connect(&lineOwner, &LineOwner::released, this, [this] {
        for (int probe = 0; probe < probeCount; ++probe)
            addressEdited(probe);
    });
}
