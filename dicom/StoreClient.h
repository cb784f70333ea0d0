#pragma once

#include "core/AppError.h"
#include "dicom/DicomPeer.h"

#include <memory>

class DcmDataset;
class DcmSCU;

// A failure talking to a DICOM partner; the message names the step and the partner's answer.
class DicomError : public AppError {
public:
    using AppError::AppError;
};

// One association with a PACS for storing Secondary Capture images (JPEG Baseline) and
// Encapsulated PDF documents: opened by the constructor, released by the destructor. Each
// C-STORE's status becomes a clear error. Used on one thread at a time (the outbox's worker).
class StoreClient {
public:
    // Connects and negotiates; throws DicomError when the PACS cannot be reached in time or
    // rejects the association.
    explicit StoreClient(const DicomPeer &pacs);
    ~StoreClient();
    StoreClient(const StoreClient &) = delete;
    StoreClient &operator=(const StoreClient &) = delete;

    // Sends one instance and waits for its answer. Success and the warning statuses (the PACS
    // stored it, perhaps coerced) return; every other status throws DicomError with its text.
    void store(DcmDataset &dataset);

    // Whether the association is still usable after a failure of store().
    bool isConnected() const;

private:
    DicomPeer m_pacs;
    std::unique_ptr<DcmSCU> m_scu;
};
