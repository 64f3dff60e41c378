#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QObject>
#include <QString>

// The menus "Файл" and "Справка": the log and records folders, exit, the operator's guide, and
// what the tool is and where its files lie. Their texts open in boxes that are not modal to
// the loop, so the window keeps serving the line while one is read.
class OperatorMenus : public QObject
{
    Q_OBJECT

public:
    OperatorMenus(QMainWindow *window, const QString &recordsDirectory,
                  const QString &userSettingsPath);

    QMenu *fileMenu() const { return file; }
    QString aboutText() const;
    static QString guideText();
    // The records folder in the desktop's file manager, made if it is not there yet.
    void openRecordsFolder() const;

private:
    void showText(const QString &title, const QString &text);

    QMainWindow *window;
    QString recordsDirectory;
    QString userSettingsPath;
    QMenu *file;
};
