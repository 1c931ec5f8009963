// Exceptions thrown by the inference library.
//
// Every failure to load a model is a ModelLoadError (or one of its kinds) whose
// message starts with the file's path and says what is wrong, so a front-end can
// pass what() on to a user unchanged. Misuse of a loaded model (wrong input
// blobs, unknown names, calls before loading) is a UsageError.
#pragma once

#include <stdexcept>
#include <string>

namespace qvr {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ModelLoadError : public Error {
public:
    ModelLoadError(const std::string& path, const std::string& problem)
        : Error("model file '" + path + "': " + problem) {}
};

/// The file is missing or cannot be read.
class ModelFileUnreadable : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// The file does not start with the model magic: not a model file at all.
class BadModelMagic : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// A model file of a format version this library does not read.
class UnsupportedModelVersion : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// The file ends before the model does.
class TruncatedModel : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// Bytes follow the end of the model.
class TrailingModelBytes : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// The model's parts do not fit together: unknown layer kinds, shapes that do
/// not match, references to tensors that do not exist, sizes out of range.
class InconsistentModel : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// A weight or bias is NaN or infinite.
class NonFiniteWeights : public ModelLoadError {
public:
    using ModelLoadError::ModelLoadError;
};

/// Bad option text given to LoadModelFromFile.
class BadOption : public Error {
public:
    using Error::Error;
};

/// A call that does not fit the loaded model: wrong input blobs or shapes,
/// unknown blob names, no model loaded.
class UsageError : public Error {
public:
    using Error::Error;
};

}  // namespace qvr
