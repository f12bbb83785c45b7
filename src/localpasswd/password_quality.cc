#include "password_quality.h"

#include <pwquality.h>

#include "loaded_library.h"
#include "logger.h"
#include "pn.h"
#include "props.h"

namespace {

constexpr const char* kQualityLibrary = "libpwquality.so.1";

void logProblem(const char* what) {
  vesk::Logger::GetLogger("cli.passwd")->log(vesk::LogLevel::kWarning, "password quality: %s", what);
}

}  // namespace

struct PasswordQuality::Library {
  vesk::LoadedLibrary handle{kQualityLibrary};
  decltype(pwquality_free_settings)* freeSettings = handle.function<decltype(pwquality_free_settings)>(
      "pwquality_free_settings");
  decltype(pwquality_check)* check = handle.function<decltype(pwquality_check)>("pwquality_check");
  decltype(pwquality_strerror)* strerror = handle.function<decltype(pwquality_strerror)>("pwquality_strerror");
  pwquality_settings_t* settings = nullptr;

  ~Library() {
    if (settings != nullptr) freeSettings(settings);
  }
};

PasswordQuality::PasswordQuality() {
  const std::string setting = vesk::lower(vesk::lookupProperty(vesk::PN::PASSWD_QUALITY, std::string()));
  if (!(setting == "true" || setting == "yes" || setting == "1")) return;
  auto library = std::make_unique<Library>();
  auto* defaults = library->handle.function<decltype(pwquality_default_settings)>("pwquality_default_settings");
  auto* readConfig = library->handle.function<decltype(pwquality_read_config)>("pwquality_read_config");
  if (defaults == nullptr || readConfig == nullptr || library->freeSettings == nullptr || library->check == nullptr ||
      library->strerror == nullptr) {
    logProblem("libpwquality.so.1 is not installed; new passwords are not checked");
    return;
  }
  library->settings = defaults();
  if (library->settings == nullptr) {
    logProblem("out of memory; new passwords are not checked");
    return;
  }
  // A configuration that cannot be read leaves the library's defaults, as the PAM module does.
  void* aux = nullptr;
  const int read = readConfig(library->settings, nullptr, &aux);
  if (read != 0) {
    char text[PWQ_MAX_ERROR_MESSAGE_LEN];
    logProblem(library->strerror(text, sizeof text, read, aux));
  }
  library_ = std::move(library);
}

PasswordQuality::~PasswordQuality() = default;

std::string PasswordQuality::refusal(const vesk::Shredder& password, const vesk::Shredder& oldPassword,
                                     const std::string& user) const {
  if (!library_) return std::string();
  void* aux = nullptr;
  const int score = library_->check(library_->settings, password.c_str(),
                                    oldPassword.empty() ? nullptr : oldPassword.c_str(), user.c_str(), &aux);
  if (score >= 0) return std::string();
  char text[PWQ_MAX_ERROR_MESSAGE_LEN];
  return library_->strerror(text, sizeof text, score, aux);
}
