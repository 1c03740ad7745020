#pragma once
// Logging categories shared by every layer. All are off unless QT_LOGGING_RULES turns them on,
// e.g. QT_LOGGING_RULES="kavanti.*.debug=true" or "kavanti.card.debug=true".
// Never log a password or any other secret through them.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCard)    // "kavanti.card": each AT command and the card's reply
Q_DECLARE_LOGGING_CATEGORY(lcPPP)     // "kavanti.ppp": dial state changes "old → new (why)", pppd's output
Q_DECLARE_LOGGING_CATEGORY(lcStore)   // "kavanti.store": network-preferences store reads and writes
Q_DECLARE_LOGGING_CATEGORY(lcAuth)    // "kavanti.auth": credential look-ups (never the secret itself)
Q_DECLARE_LOGGING_CATEGORY(lcUI)      // "kavanti.ui": the window
Q_DECLARE_LOGGING_CATEGORY(lcCore)    // "kavanti.core": the application core
Q_DECLARE_LOGGING_CATEGORY(lcLaunch)  // "kavanti.launch": each tool run and its status
