#pragma once

#include "dicom/DicomAssociation.h"

class DcmDataset;

// One association with a PACS for storing Secondary Capture images (JPEG Baseline),
// Encapsulated PDF documents and Video Endoscopic images (MPEG-4 AVC/H.264 High Profile /
// Level 4.1): opened by the constructor, released by the destructor. Each
// C-STORE's status becomes a clear error. Used on one thread at a time (the outbox's worker);
// `cancel` ends it from another.
class StoreClient {
public:
    // Connects and negotiates; throws DicomError when the PACS cannot be reached in time or
    // rejects the association.
    explicit StoreClient(const DicomPeer &pacs, DicomCancel *cancel = nullptr);

    // Sends one instance and waits for its answer. Success and the warning statuses (the PACS
    // stored it, perhaps coerced) return; every other status throws DicomError with its text.
    void store(DcmDataset &dataset);

    // Whether the association is still usable after a failure of store().
    bool isConnected() const { return m_association.isConnected(); }

private:
    DicomAssociation m_association;
};
