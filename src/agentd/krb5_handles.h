// Owners of the Kerberos library's handles, each released by its destructor, and the pool of
// library contexts that the agent's operations share.
#pragma once

// com_err.h has no C++ guards of its own; krb5.h includes it.
extern "C" {
#include <com_err.h>
}
#include <krb5/krb5.h>

#include <mutex>
#include <string>
#include <vector>

#include "realm_transport.h"

namespace vesk::agentd {

// Library contexts are costly to build and may be reused by one thread at a time: a small pool.
class ContextPool {
 public:
  // A context of the pool or a new one; null with code when the library cannot make one.
  krb5_context take(krb5_error_code& code);
  void give(krb5_context context);

 private:
  std::mutex mutex_;
  std::vector<krb5_context> idle_;
};

// The process's pool; it outlives threads still finishing at exit.
ContextPool& pool();

class Context {
 public:
  // With a transport, the context's KDC messages go through it.
  explicit Context(RealmTransport* transport = nullptr) : context_(pool().take(code_)) {
    if (context_ != nullptr) RealmTransport::install(context_, transport);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() {
    if (context_ != nullptr) pool().give(context_);
  }
  krb5_context get() const { return context_; }
  krb5_error_code initError() const { return code_; }

 private:
  krb5_error_code code_ = 0;
  krb5_context context_;
};

class Principal {
 public:
  Principal() = default;
  Principal(const Principal&) = delete;
  Principal& operator=(const Principal&) = delete;
  ~Principal() {
    if (principal_ != nullptr) krb5_free_principal(context_, principal_);
  }
  krb5_error_code parse(krb5_context context, const std::string& name) {
    context_ = context;
    return krb5_parse_name(context, name.c_str(), &principal_);
  }
  krb5_principal get() const { return principal_; }

 private:
  krb5_context context_ = nullptr;
  krb5_principal principal_ = nullptr;
};

class Credentials {
 public:
  explicit Credentials(krb5_context context) : context_(context) {}
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
  ~Credentials() { krb5_free_cred_contents(context_, &creds_); }
  krb5_creds* get() { return &creds_; }

 private:
  krb5_context context_;
  krb5_creds creds_ = {};
};

// Options shared by every exchange: no prompts, no change on an expired password, short tickets.
class InitOptions {
 public:
  explicit InitOptions(krb5_context context) : context_(context) {
    code_ = krb5_get_init_creds_opt_alloc(context, &options_);
    if (code_ != 0) return;
    krb5_get_init_creds_opt_set_change_password_prompt(options_, 0);
    krb5_get_init_creds_opt_set_forwardable(options_, 0);
    krb5_get_init_creds_opt_set_proxiable(options_, 0);
    krb5_get_init_creds_opt_set_tkt_life(options_, 300);
  }
  InitOptions(const InitOptions&) = delete;
  InitOptions& operator=(const InitOptions&) = delete;
  ~InitOptions() {
    if (options_ != nullptr) krb5_get_init_creds_opt_free(context_, options_);
  }
  krb5_get_init_creds_opt* get() const { return options_; }
  krb5_error_code error() const { return code_; }

 private:
  krb5_context context_;
  krb5_get_init_creds_opt* options_ = nullptr;
  krb5_error_code code_ = 0;
};

class Keytab {
 public:
  Keytab(krb5_context context, const std::string& name) : context_(context) {
    code_ = krb5_kt_resolve(context, name.c_str(), &keytab_);
  }
  Keytab(const Keytab&) = delete;
  Keytab& operator=(const Keytab&) = delete;
  ~Keytab() {
    if (keytab_ != nullptr) krb5_kt_close(context_, keytab_);
  }
  krb5_keytab get() const { return keytab_; }
  krb5_error_code error() const { return code_; }

 private:
  krb5_context context_;
  krb5_keytab keytab_ = nullptr;
  krb5_error_code code_ = 0;
};

}  // namespace vesk::agentd
