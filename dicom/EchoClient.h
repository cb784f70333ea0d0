#pragma once

#include "dicom/DicomPeer.h"

#include <QString>

// The connection check of a DICOM partner: one association proposing Verification, one C-ECHO,
// released. Any thread.
namespace EchoClient {

// The milliseconds from the connect to the C-ECHO's answer. Throws DicomError, naming the
// partner, when it cannot be reached, refuses the association or Verification, or answers the
// C-ECHO with anything but success. role: how the partner is named ("PACS", "worklist").
qint64 echo(const DicomPeer &peer, const QString &role);

} // namespace EchoClient
