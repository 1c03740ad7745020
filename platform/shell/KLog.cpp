#include "platform/shell/KLog.h"

// QtWarningMsg as the floor keeps debug and info lines off by default; QT_LOGGING_RULES turns them on.
Q_LOGGING_CATEGORY(lcCard, "kavanti.card", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPPP, "kavanti.ppp", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStore, "kavanti.store", QtWarningMsg)
Q_LOGGING_CATEGORY(lcAuth, "kavanti.auth", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUI, "kavanti.ui", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCore, "kavanti.core", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLaunch, "kavanti.launch", QtWarningMsg)
