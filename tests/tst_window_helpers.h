#pragma once

#include "app/OrvaUI.h"
#include "ui/ProbePanels.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

// What the window suites share: a working directory of their own, settings.cfg, the log as
// "level text" lines, and typing into the panels as an operator does.
namespace windowtest {

inline bool enterWorkDirectory(const QTemporaryDir &dir)
{
    return dir.isValid() && QDir::setCurrent(dir.path());
}

inline QByteArray settingsFile(const std::vector<int> &addresses, int delay)
{
    QByteArray text = "Port=COM3\r\n";
    for (size_t i = 0; i < addresses.size(); ++i)
        text += "Probe" + QByteArray::number(int(i + 1)) + '=' + QByteArray::number(addresses[i]) +
                "\r\n";
    return text + "Delay=" + QByteArray::number(delay) + "\r\n";
}

inline bool writeSettings(const QByteArray &contents)
{
    QFile file(QStringLiteral("settings.cfg"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(contents) == contents.size();
}

// Log lines without their time stamps: "0 Delay: 190".
inline QStringList logMessages()
{
    QFile file(QStringLiteral("log/log.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression line(QStringLiteral("^(\\d+) \\[[^\\]]*\\] (.*)$"));
    QStringList messages;
    for (const QString &text : QString::fromLocal8Bit(file.readAll()).split('\n')) {
        const auto match = line.match(text);
        if (match.hasMatch())
            messages << match.captured(1) + ' ' + match.captured(2);
    }
    return messages;
}

inline ProbePanel panel(OrvaUI &window, int probe)
{
    return probePanels(window.ui)[probe - 1];
}

inline QStringList panelValues(const OrvaUI &window)
{
    QStringList values;
    for (const ProbePanel &panel : probePanels(window.ui))
        values << panel.value->text();
    return values;
}

// Types the text into probe N's address field and finishes the edit with Return.
inline void typeAddress(OrvaUI &window, int probe, const QString &text)
{
    QLineEdit *field = panel(window, probe).address;
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

}  // namespace windowtest
