#pragma once

#include "core/AppError.h"

// A failure talking to a DICOM partner; the message names the step, the partner and its answer.
class DicomError : public AppError {
public:
    using AppError::AppError;
};
