#include "password_request.h"

PasswordRequest& passwordRequest() {
  static PasswordRequest request;
  return request;
}
