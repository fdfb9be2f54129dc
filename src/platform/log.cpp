#include "platform/log.h"

Q_LOGGING_CATEGORY(lcApp, "dravonelle.app")
Q_LOGGING_CATEGORY(lcSettings, "dravonelle.settings")
Q_LOGGING_CATEGORY(lcPresentation, "dravonelle.presentation")
Q_LOGGING_CATEGORY(lcUpdate, "dravonelle.update")
Q_LOGGING_CATEGORY(lcPush, "dravonelle.push")
Q_LOGGING_CATEGORY(lcPower, "dravonelle.power")
Q_LOGGING_CATEGORY(lcPlatform, "dravonelle.platform")
