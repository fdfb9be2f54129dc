#include "platform/settings_store.h"

namespace platform {

Endpoints Endpoints::Defaults() {
    return Endpoints{QStringLiteral("dravonelle.local"),
                     QStringLiteral("http://weer.dravonelle.local/freedata/meerdaagsebanner.jpg"),
                     QStringLiteral("http://radio.dravonelle.local/radio.asx")};
}

}  // namespace platform
