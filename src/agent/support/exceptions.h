// Exceptions raised by the support layer and the directory agent client.
//
// MerrowException, BaseException and KerberosException are the directory library's family;
// vesk::Base_Exception is the support library's. Only the front end catches them.
#pragma once

#include <stdexcept>
#include <string>

class MerrowException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure with a message and a numeric code (1001, 1004 and 1030 mean invalid credentials).
class BaseException : public MerrowException {
 public:
  BaseException(const std::string& message, int code) : MerrowException(message), code_(code) {}
  const char* getMessage() const noexcept { return what(); }
  int getCode() const noexcept { return code_; }

 private:
  int code_;
};

// A failure of the Kerberos library, carrying its error code and the library's text for it (the
// agent, which links the library, supplies the text).
class KerberosException : public MerrowException {
 public:
  KerberosException(int code, const std::string& text) : MerrowException(text), code_(code) {}
  int getCode() const noexcept { return code_; }

 private:
  int code_;
};

namespace vesk {

class Base_Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class NotFoundException : public Base_Exception {
 public:
  using Base_Exception::Base_Exception;
};

// The directory agent could not be reached, or did not answer in time.
class IPCException : public Base_Exception {
 public:
  using Base_Exception::Base_Exception;
};

class IOException : public Base_Exception {
 public:
  using Base_Exception::Base_Exception;
};

}  // namespace vesk
