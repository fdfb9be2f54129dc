#pragma once

#include <QByteArray>

namespace swf {

// The connecting screen shown while the start-up cycle runs: a looping movie whose text
// field shows the variable "Status".
QByteArray DownloadMovie();

}  // namespace swf
