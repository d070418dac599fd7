#ifndef FCSDK_PLATFORM_COBERROR_H
#define FCSDK_PLATFORM_COBERROR_H

/// Status of a utility call; 0 is success.
class CObError {
  public:
    CObError(int code = 0) : code_(code) {}
    bool IsOk() const { return code_ == 0; }
    int Code() const { return code_; }

  private:
    int code_;
};

#endif  // FCSDK_PLATFORM_COBERROR_H
