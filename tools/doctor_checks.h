// What `tarsel doctor` can check with no arm on the bus: the udev rule, the
// user's groups and the programs its fixes name; the report its findings go
// to; and the figures of its measurement of the link's timing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarsel::tool::doctor {

// Prints the findings, one a line ("ok:", "note:", "problem: ... Fix: ..."),
// and counts the problems. Each line goes out as soon as it is found: the
// checks that follow may take seconds, and a finding must not be lost
// whatever ends the process.
class Report {
 public:
  void Ok(const std::string& text);
  void Note(const std::string& text);
  void Problem(const std::string& text, const std::string& fix);
  // A line that belongs to the finding before it, indented under its text.
  void Detail(const std::string& text);
  int Problems() const { return problems_; }

 private:
  int problems_ = 0;
};

// parts joined by separator.
std::string JoinedWith(const std::vector<std::string>& parts, const char* separator);
// The name of a user or group id, or the id as a number when it has none.
std::string UserName(uid_t uid);
std::string GroupName(gid_t gid);

// Who runs the doctor.
struct Identity {
  std::string user;
  bool root = false;
  std::vector<std::string> groups;  // the groups this process carries, by name
  bool remote = false;              // logged in over ssh (SSH_CONNECTION is set)
};

// This process's effective user and its groups. TARSEL_DOCTOR_USER (a name;
// "root" is root) and TARSEL_DOCTOR_GROUPS (names separated by commas), when
// set, stand for them, so the checks can be tried without other accounts.
// Never fails: an id without a name is given as its number.
Identity CurrentIdentity();

// Where the arm's udev rule is, and what it gives the arm's node.
struct RuleSearch {
  std::vector<std::string> readFolders;  // the folders udev reads, in its order
  std::string installed;                 // a rules file for the arm in them, or ""
  std::vector<std::string> unread;       // rules files for the arm where udev does not look
  std::string source;                    // the file a fix copies (never "")
  std::string group;                     // the GROUP the rule gives the node ("": none)
  bool uaccess = false;                  // whether the rule tags the node uaccess
};

// Looks for the rule: in the folders udev reads (the colon-separated
// TARSEL_DOCTOR_UDEV_DIRS replaces the built-in list, for a udev that reads
// others), then in lib/udev/rules.d under the tool's and under apiLibrary's
// prefix, where an install under another prefix leaves it. The group and
// uaccess come from the first rule found, else from the project's rule.
// Only the first 64 KiB of a regular file are read; an unreadable folder or
// file holds no rule. Never fails.
RuleSearch FindRule(const std::string& apiLibrary);

// The problem "no udev rule in the folders udev reads" with its fix (copy
// search.source to /etc/udev/rules.d, reload udev; replug the arm when
// armPlugged). A note instead of a problem when asNote.
void RuleMissing(Report& report, const RuleSearch& search, bool armPlugged, bool asNote);

// With no arm on the bus: whether the rule is installed where udev reads it
// (ok), or not (a problem; for root, who needs no rule, a note).
void CheckRuleInstalled(Report& report, const RuleSearch& search, const Identity& who);

// Whether who may open the arm once the rule applies: root always; others
// through the rule's GROUP or, at the seat, its uaccess tag. nodeDenied says
// the node was already refused to who, so uaccess did not help. Reports ok,
// a note (not in the group, but uaccess opens the arm at the seat) or a
// problem with its fix: not in the group, the group missing from the
// system, or joined after this login began.
void CheckGroup(Report& report, const RuleSearch& search, const Identity& who, bool nodeDenied);

// The fix for an empty bus: plug the arm in; `lsusb -d <vendor>:` lists it
// when lsusb is on PATH, else which package brings lsusb.
std::string PlugInFix();

// --- The link's timing ---------------------------------------------------------------

// The buckets of an exchange-time histogram, by upper bound in seconds: up to
// 0.1 ms, 0.1-0.2 ms, 0.2-0.5 ms ... 20-50 ms; a last one holds the rest.
inline constexpr double kTimeBuckets[] = {0.0001, 0.0002, 0.0005, 0.001, 0.002,
                                          0.005,  0.01,   0.02,   0.05};

// Figures over a set of times in seconds: the median, the 99th percentile
// (nearest rank), the largest, and how many fall in each bucket
// (counts has one more element than kTimeBuckets; a time on a bound falls in
// the lower bucket). All 0 for no times.
struct TimeFigures {
  double p50 = 0, p99 = 0, max = 0;
  std::vector<int> counts;
};
TimeFigures Summarise(std::vector<double> seconds);

// The histogram as lines, "0.2-0.5 ms    118  ########", from the first bucket
// that holds a time to the last, the bars scaled to the fullest bucket.
std::vector<std::string> HistogramLines(const TimeFigures& figures);

// Milliseconds with three significant figures, whole ones from 100 up:
// "0.213 ms", "12.4 ms", "1250 ms".
std::string Milliseconds(double seconds);

}  // namespace tarsel::tool::doctor
