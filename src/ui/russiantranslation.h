#pragma once

class QCoreApplication;

// Qt's own texts (the standard buttons, the file dialog, the context menus of
// text fields) in Russian, from the translation built into the program: a
// Windows bench has no Qt translations installed. False when it did not load.
bool installRussianTranslation(QCoreApplication &app);
