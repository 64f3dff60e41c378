#pragma once

class QCoreApplication;

// Qt's own texts (the buttons of its dialogs, the file dialog) in Russian like the window's,
// from the translations Qt installs; without them Qt speaks English and the window still works.
bool installQtTranslations(QCoreApplication *application);
