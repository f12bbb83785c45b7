// One password validation through the directory agent beside the same libkrb5 AS exchange done
// directly in this process, against one throwaway realm (tests/lib/krbrealm.py) started for the run.
//
// direct: a step-wise AS exchange for alice with a library context made once, as the agent keeps
// its contexts, and the KDC verified with the host key (krb5_verify_init_creds) as the agent
// verifies it. agent: a new session (connect, one request, one reply) per validation, as the
// tools open one per operation. The KDC's work is in both; the difference is the agent's cost.
// The /threads:32 runs give the throughput of 32 clients at once, each direct client with a
// context of its own.
// side_by_side does one of each per iteration and reports the medians and their ratio, so that
// a busy machine weighs on both alike.
#include <benchmark/benchmark.h>
#include <krb5/krb5.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "local_rpc_session.h"
#include "props.h"

namespace {

constexpr const char* kAlicePassword = "Alice-Passw0rd";
std::string realmDirectory;

// A step-wise AS exchange for alice, done the way the agent does it.
class DirectValidation {
 public:
  DirectValidation() {
    ok_ = krb5_init_context(&context_) == 0 && krb5_parse_name(context_, "alice@KESTROVA.TEST", &client_) == 0 &&
          krb5_get_init_creds_opt_alloc(context_, &options_) == 0;
    if (!ok_) return;
    krb5_get_init_creds_opt_set_change_password_prompt(options_, 0);
    krb5_get_init_creds_opt_set_forwardable(options_, 0);
    krb5_get_init_creds_opt_set_proxiable(options_, 0);
    krb5_get_init_creds_opt_set_tkt_life(options_, 300);
  }
  ~DirectValidation() {
    if (options_ != nullptr) krb5_get_init_creds_opt_free(context_, options_);
    if (client_ != nullptr) krb5_free_principal(context_, client_);
    if (context_ != nullptr) krb5_free_context(context_);
  }
  bool run() {
    if (!ok_) return false;
    krb5_init_creds_context exchange = nullptr;
    krb5_creds creds = {};
    krb5_error_code code = krb5_init_creds_init(context_, client_, nullptr, nullptr, 0, options_, &exchange);
    if (code == 0) code = krb5_init_creds_set_password(context_, exchange, kAlicePassword);
    if (code == 0) code = krb5_init_creds_get(context_, exchange);
    if (code == 0) code = krb5_init_creds_get_creds(context_, exchange, &creds);
    krb5_init_creds_free(context_, exchange);
    krb5_keytab keytab = nullptr;
    if (code == 0) code = krb5_kt_resolve(context_, (realmDirectory + "/realm/host.keytab").c_str(), &keytab);
    if (code == 0) {
      krb5_verify_init_creds_opt verify;
      krb5_verify_init_creds_opt_init(&verify);
      code = krb5_verify_init_creds(context_, &creds, nullptr, keytab, nullptr, &verify);
      krb5_kt_close(context_, keytab);
    }
    krb5_free_cred_contents(context_, &creds);
    return code == 0;
  }

 private:
  bool ok_ = false;
  krb5_context context_ = nullptr;
  krb5_principal client_ = nullptr;
  krb5_get_init_creds_opt* options_ = nullptr;
};

bool throughAgent() {
  vesk::LocalRpcSession session("/var/kestrova/daemon", false, false);
  return session.validatePlainTextUser("alice", vesk::Shredder(kAlicePassword), false) == 0;
}

void direct(benchmark::State& state) {
  DirectValidation validation;
  for (auto _ : state) {
    if (!validation.run()) {
      state.SkipWithError("AS exchange failed");
      break;
    }
  }
}

void agent(benchmark::State& state) {
  for (auto _ : state) {
    if (!throughAgent()) {
      state.SkipWithError("validation through the agent failed");
      break;
    }
  }
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

void sideBySide(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  DirectValidation validation;
  std::vector<double> directMs;
  std::vector<double> agentMs;
  for (auto _ : state) {
    const auto start = Clock::now();
    const bool directOk = validation.run();
    const auto middle = Clock::now();
    const bool agentOk = throughAgent();
    const auto end = Clock::now();
    if (!directOk || !agentOk) {
      state.SkipWithError("a validation failed");
      break;
    }
    directMs.push_back(std::chrono::duration<double, std::milli>(middle - start).count());
    agentMs.push_back(std::chrono::duration<double, std::milli>(end - middle).count());
  }
  const double d = median(directMs);
  const double a = median(agentMs);
  state.counters["direct_ms"] = d;
  state.counters["agent_ms"] = a;
  state.counters["agent_per_direct"] = d > 0 ? a / d : 0;
}

int runScript(const std::string& command) { return std::system(command.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  char directory[] = "/tmp/agent-bench-XXXXXX";
  if (mkdtemp(directory) == nullptr) return 1;
  realmDirectory = directory;
  const std::string script = std::string("python3 ") + KRBREALM_PATH;
  if (runScript(script + " up " + realmDirectory + " --agent " + KESTROVAD_PATH + " >/dev/null") != 0) {
    std::fprintf(stderr, "agent_bench: cannot start the realm and the agent\n");
    return 1;
  }
  setenv("KRB5_CONFIG", (realmDirectory + "/realm/krb5.conf").c_str(), 1);
  setenv("KESTROVA_CONF", (realmDirectory + "/kestrova.conf").c_str(), 1);
  vesk::Props(true);

  setenv("KRB5RCACHEDIR", (realmDirectory + "/realm/rcache").c_str(), 1);
  for (int threads : {1, 32}) {
    benchmark::RegisterBenchmark("validate/direct_libkrb5", direct)->Unit(benchmark::kMillisecond)->UseRealTime()
        ->Threads(threads);
    benchmark::RegisterBenchmark("validate/through_agent", agent)->Unit(benchmark::kMillisecond)->UseRealTime()
        ->Threads(threads);
  }
  benchmark::RegisterBenchmark("validate/side_by_side", sideBySide)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  runScript(script + " down " + realmDirectory);
  runScript("rm -rf --one-file-system " + realmDirectory);
  return 0;
}
