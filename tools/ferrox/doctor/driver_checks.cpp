// SPDX-License-Identifier: MIT
// The checks of the kernel, the module and the node, from the system's files.
#include <fmt/format.h>

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tools/ferrox/doctor/checks.h"
#include "tools/ferrox/doctor/system_view.h"

namespace ferrox_tool::doctor {

namespace {

constexpr const char* ModuleName = "ferrox";
constexpr const char* Node = "/dev/ferrox";
constexpr int CapSysRawio = 17;
// The EFI variable of the firmware's Secure Boot state: 4 bytes of attributes, then 1 when on.
constexpr const char* SecureBootVariable = "/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-e7bc5d8ea2a0";
// What the kernel's sign-file appends to a signed module.
constexpr std::string_view SignatureMarker = "~Module signature appended~\n";

std::string kernel_release(const SystemView& system) { return system.value("/proc/sys/kernel/osrelease").value_or("unknown"); }

bool module_loaded(const SystemView& system) {
  for (const std::string& line : lines_of(system.read("/proc/modules").value_or("")))
    if (line.rfind(std::string(ModuleName) + " ", 0) == 0) return true;
  return false;
}

// Where DKMS (updates/dkms) or a hand install (extra) put the module for a kernel.
std::optional<std::string> module_file(const SystemView& system, const std::string& release) {
  for (const char* folder : {"updates/dkms", "extra", "updates"})
    for (const char* suffix : {".ko", ".ko.xz", ".ko.zst", ".ko.gz"}) {
      std::string path = fmt::format("/lib/modules/{}/{}/{}{}", release, folder, ModuleName, suffix);
      if (system.exists(path)) return path;
    }
  return std::nullopt;
}

std::vector<std::string> other_kernels_with_module(const SystemView& system, const std::string& release) {
  std::vector<std::string> kernels;
  for (const std::string& kernel : system.entries("/lib/modules"))
    if (kernel != release && module_file(system, kernel)) kernels.push_back(kernel);
  return kernels;
}

// A compressed module hides its signature in the compressed bytes: unknown.
std::optional<bool> module_signed(const SystemView& system, const std::string& path) {
  if (!path.ends_with(".ko")) return std::nullopt;
  std::optional<std::string> bytes = system.read(path);
  if (!bytes) return std::nullopt;
  return bytes->ends_with(SignatureMarker);
}

std::optional<bool> secure_boot(const SystemView& system) {
  std::optional<std::string> bytes = system.read(SecureBootVariable);
  if (!bytes || bytes->size() < 5) return std::nullopt;
  return (*bytes)[4] == 1;
}

bool signatures_enforced(const SystemView& system) {
  return system.value("/sys/module/module/parameters/sig_enforce").value_or("N") == "Y";
}

// "none [integrity] confidentiality": the mode in brackets; "none" where the kernel has no lockdown.
std::string lockdown_mode(const SystemView& system) {
  std::string modes = system.value("/sys/kernel/security/lockdown").value_or("[none]");
  std::size_t open = modes.find('['), close = modes.find(']');
  return open != std::string::npos && close > open ? modes.substr(open + 1, close - open - 1) : "none";
}

// Lockdown asked for on the kernel's command line goes with that line; otherwise Secure Boot raised it.
std::string lockdown_mend(const SystemView& system) {
  if (system.value("/proc/cmdline").value_or("").find("lockdown=") != std::string::npos)
    return "boot without lockdown= on the kernel's command line";
  return "boot with Secure Boot off, or sudo mokutil --disable-validation and reboot";
}

// A kernel locked down refuses unsigned modules as module.sig_enforce does, whatever set it.
bool signatures_required(const SystemView& system) {
  return signatures_enforced(system) || secure_boot(system).value_or(false) || lockdown_mode(system) != "none";
}


struct Caller {
  unsigned uid = 0;
  std::vector<unsigned> groups;  // the effective group and the supplementary ones
  bool raw_io = false;
  int seccomp = 0;  // 0 none, 1 strict, 2 a filter
};

// The n-th number of a "Uid:" or "Gid:" line: real, effective, saved, file system.
unsigned id_field(const std::optional<std::string>& line, int index) {
  unsigned value = 0;
  std::istringstream in(line.value_or(""));
  for (int at = 0; at <= index && in >> value; ++at) {
  }
  return value;
}

Caller caller(const SystemView& system) {
  std::string status = system.read("/proc/self/status").value_or("");
  Caller who;
  who.uid = id_field(status_field(status, "Uid"), 1);
  who.groups.push_back(id_field(status_field(status, "Gid"), 1));
  std::istringstream groups(status_field(status, "Groups").value_or(""));
  for (unsigned group; groups >> group;) who.groups.push_back(group);
  who.raw_io = (std::strtoull(status_field(status, "CapEff").value_or("0").c_str(), nullptr, 16) >> CapSysRawio & 1) != 0;
  who.seccomp = std::atoi(status_field(status, "Seccomp").value_or("0").c_str());
  return who;
}

// The name of an id in /etc/passwd or /etc/group ("name:x:id:..."), or the number.
std::string name_of(const SystemView& system, const char* file, unsigned id) {
  for (const std::string& line : lines_of(system.read(file).value_or(""))) {
    std::size_t first = line.find(':'), second = line.find(':', first + 1), third = line.find(':', second + 1);
    if (third != std::string::npos && line.substr(second + 1, third - second - 1) == std::to_string(id))
      return line.substr(0, first);
  }
  return std::to_string(id);
}

Check kernel_check(const SystemView& system) {
  std::string release = kernel_release(system);
  // Kernels before /proc/sys/kernel/arch: the machine uname gives this process.
  struct utsname names {};
  uname(&names);
  std::string arch = system.value("/proc/sys/kernel/arch").value_or(names.machine);
  bool x86 = arch == "x86_64" || (arch.size() == 4 && arch[0] == 'i' && arch.substr(2) == "86");
  if (x86) return {"kernel", Verdict::Ok, fmt::format("Linux {} on {}", release, arch)};
  return {"kernel", Verdict::Problem, fmt::format("Linux {} on {}: ferrox drives the ports of x86 PCs only", release, arch),
          "run ferrox on an x86 PC"};
}

Check module_check(const SystemView& system) {
  std::string release = kernel_release(system);
  std::optional<std::string> file = module_file(system, release);
  if (module_loaded(system)) return {"module", Verdict::Ok, fmt::format("{} is loaded", ModuleName)};
  if (file) {
    if (signatures_required(system) && module_signed(system, *file) == false)
      return {"module", Verdict::Problem,
              fmt::format("{} is built for {} but unsigned, and this kernel loads signed modules only", ModuleName, release),
              "sudo mokutil --import /var/lib/dkms/mok.pub, reboot, then sudo dkms autoinstall --force"};
    return {"module", Verdict::Problem, fmt::format("{} is built for {} ({}) but not loaded", ModuleName, release, *file),
            fmt::format("sudo modprobe {}", ModuleName)};
  }
  std::vector<std::string> others = other_kernels_with_module(system, release);
  if (!others.empty())
    return {"module", Verdict::Problem,
            fmt::format("{} is built for {} only, not for the running {}", ModuleName, fmt::join(others, ", "), release),
            fmt::format("sudo apt-get install linux-headers-{} && sudo dkms autoinstall", release)};
  return {"module", Verdict::Problem, fmt::format("{} is not installed for {}", ModuleName, release),
          fmt::format("sudo apt-get install ferrox-dkms linux-headers-{}", release)};
}

Check signature_check(const SystemView& system) {
  std::optional<bool> boot = secure_boot(system);
  std::string state = boot ? (*boot ? "Secure Boot is on" : "Secure Boot is off") : "no EFI Secure Boot variable";
  if (!signatures_required(system))
    return {"signatures", Verdict::Ok, state + ", module.sig_enforce is off: unsigned modules load"};
  std::string why = state + (signatures_enforced(system) ? ", module.sig_enforce is on" : "") +
                    (lockdown_mode(system) != "none" ? ", the kernel is locked down" : "") +
                    ": the kernel loads signed modules only";
  std::optional<std::string> file = module_file(system, kernel_release(system));
  std::optional<bool> signed_module = file ? module_signed(system, *file) : std::nullopt;
  if (signed_module == true) return {"signatures", Verdict::Ok, why + ", and the module is signed"};
  if (signed_module == false)
    return {"signatures", Verdict::Problem, why + ", and the module is not signed",
            "sudo mokutil --import /var/lib/dkms/mok.pub, reboot, then sudo dkms autoinstall --force"};
  return {"signatures", Verdict::Warning, why + "; the module's key must be enrolled",
          "sudo mokutil --import /var/lib/dkms/mok.pub, then reboot"};
}

Check lockdown_check(const SystemView& system) {
  std::string mode = lockdown_mode(system);
  if (mode == "none") return {"lockdown", Verdict::Ok, "none: nothing is locked down"};
  return {"lockdown", Verdict::Problem,
          mode + ": the kernel refuses the driver's open, iopl and ioperm, /dev/port, /dev/mem and PCI configuration writes "
                 "(PCI reads through sysfs stay possible)",
          lockdown_mend(system)};
}

std::string mode_text(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) ? letters[bit] : '-';
  return text;
}

Check node_check(const SystemView& system) {
  std::optional<struct stat> node = system.status(Node);
  if (!node)
    return {"node", Verdict::Problem, fmt::format("{} is not there", Node),
            module_loaded(system) ? "sudo udevadm trigger --subsystem-match=misc" : fmt::format("sudo modprobe {}", ModuleName)};
  return {"node", Verdict::Ok,
          fmt::format("{} {} {} {}", Node, mode_text(node->st_mode), name_of(system, "/etc/passwd", node->st_uid),
                      name_of(system, "/etc/group", node->st_gid))};
}

Check access_check(const SystemView& system) {
  std::optional<struct stat> node = system.status(Node);
  Caller who = caller(system);
  std::string user = name_of(system, "/etc/passwd", who.uid);
  if (node) {
    bool in_group = std::find(who.groups.begin(), who.groups.end(), node->st_gid) != who.groups.end();
    bool may_read = who.uid == 0 || (who.uid == node->st_uid && (node->st_mode & S_IRUSR)) ||
                    (in_group && (node->st_mode & S_IRGRP)) || (node->st_mode & S_IROTH);
    std::string group = name_of(system, "/etc/group", node->st_gid);
    if (!may_read)
      return {"access", Verdict::Problem,
              fmt::format("{} may not open {}: it is not in the group {}", user, Node, group),
              fmt::format("sudo usermod -aG {} {}, then log in again", group, user)};
  }
  if (!who.raw_io)
    return {"access", Verdict::Problem, fmt::format("{} lacks CAP_SYS_RAWIO, which the driver asks of every open", user),
            "sudo setcap cap_sys_rawio+ep $(command -v ferrox), or run as root"};
  return {"access", Verdict::Ok, fmt::format("{} holds CAP_SYS_RAWIO{}", user, node ? fmt::format(" and may open {}", Node) : "")};
}

}  // namespace

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok: return "ok";
    case Verdict::Warning: return "warning";
    case Verdict::Problem: return "problem";
  }
  return "problem";
}

std::vector<Check> driver_checks(const SystemView& system) {
  return {kernel_check(system), module_check(system), signature_check(system), lockdown_check(system), node_check(system),
          access_check(system)};
}

Check direct_access_check(const SystemView& system) {
  Caller who = caller(system);
  if (lockdown_mode(system) != "none")
    return {"direct access", Verdict::Problem, "iopl and ioperm are refused: the kernel is locked down",
            lockdown_mend(system)};
  if (who.seccomp == 1)
    return {"direct access", Verdict::Problem, "this process runs under strict seccomp, which refuses iopl and ioperm",
            "run ferrox outside the sandbox"};
  if (!who.raw_io)
    return {"direct access", Verdict::Problem, "iopl and ioperm need CAP_SYS_RAWIO, which this process lacks",
            "sudo setcap cap_sys_rawio+ep $(command -v ferrox), or run as root"};
  if (who.seccomp == 2)
    return {"direct access", Verdict::Warning,
            "a seccomp filter is in place: a container's default profile refuses iopl and ioperm",
            "run the container with --cap-add SYS_RAWIO --security-opt seccomp=unconfined"};
  return {"direct access", Verdict::Ok, "iopl and ioperm are open to this process"};
}

std::string driver_problem(const SystemView& system) {
  for (const Check& check : driver_checks(system))
    if (check.verdict == Verdict::Problem)
      return check.name + ": " + check.why + (check.mend.empty() ? "" : " (mend: " + check.mend + ")");
  return fmt::format("{} did not open for this process", Node);
}

}  // namespace ferrox_tool::doctor
