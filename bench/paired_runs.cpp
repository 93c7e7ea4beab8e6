// Times two programs as a user runs them, in paired, alternating runs: after
// one untimed run of each (which puts the files in the page cache), each pair
// runs both programs, the first of the pair alternating, and the medians of
// their processor time (user + system, from wait4) and wall time are printed
// as one row of a Markdown table, with the ratios ours / peer. With
// --compare, the row also says whether the two programs' output files are
// byte-identical.
//
//   paired_runs --header
//   paired_runs [--runs N] [--label TEXT] [--compare OURS_OUT PEER_OUT]
//               [--peer-stdout FILE] -- OURS ARG... -- PEER ARG...
//
// --peer-stdout sends the peer's standard output to FILE (for peers that
// write their result there, such as netpbm's converters).

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Command {
    std::vector<std::string> args;
    std::string stdout_path;  // empty: inherited
};

struct Times {
    double cpu_seconds = 0;
    double wall_seconds = 0;
};

// Runs a command to its end; false unless it exits with status 0.
bool run(const Command& command, Times* times) {
    std::vector<char*> argv;
    for (const std::string& a : command.args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!command.stdout_path.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, command.stdout_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return false;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return false;
    }
    times->wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    times->cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool same_contents(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    const std::vector<char> ca{std::istreambuf_iterator<char>(fa), {}};
    const std::vector<char> cb{std::istreambuf_iterator<char>(fb), {}};
    return fa.is_open() && fb.is_open() && !ca.empty() && ca == cb;
}

int usage() {
    std::fprintf(stderr,
                 "usage: paired_runs --header\n"
                 "       paired_runs [--runs N] [--label TEXT] [--compare OURS_OUT PEER_OUT]\n"
                 "                   [--peer-stdout FILE] -- OURS ARG... -- PEER ARG...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--header") {
        std::printf(
            "| Input | Ours: CPU | Peer: CPU | CPU ratio | Ours: wall | Peer: wall | "
            "Wall ratio | Same PPM |\n|---|---|---|---|---|---|---|---|\n");
        return 0;
    }
    int runs = 11;
    std::string label = "?";
    std::string ours_out, peer_out;
    Command commands[2];
    size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        const bool has_value = i + 1 < args.size();
        if (args[i] == "--runs" && has_value) {
            runs = std::max(1, std::atoi(args[++i].c_str()));
        } else if (args[i] == "--label" && has_value) {
            label = args[++i];
        } else if (args[i] == "--compare" && i + 2 < args.size()) {
            ours_out = args[++i];
            peer_out = args[++i];
        } else if (args[i] == "--peer-stdout" && has_value) {
            commands[1].stdout_path = args[++i];
        } else {
            return usage();
        }
    }
    int which = -1;
    for (; i < args.size(); ++i) {
        if (args[i] == "--" && which < 1) {
            ++which;
        } else if (which >= 0) {
            commands[which].args.push_back(args[i]);
        }
    }
    if (which != 1 || commands[0].args.empty() || commands[1].args.empty()) {
        return usage();
    }

    Times times[2];
    for (int k = 0; k < 2; ++k) {
        if (!run(commands[k], &times[k])) {
            std::fprintf(stderr, "paired_runs: %s failed\n", commands[k].args[0].c_str());
            return 1;
        }
    }
    const char* same = ours_out.empty()                    ? "not compared"
                       : same_contents(ours_out, peer_out) ? "yes"
                                                           : "NO";
    std::vector<double> cpu[2], wall[2];
    for (int r = 0; r < runs; ++r) {
        for (int k = 0; k < 2; ++k) {
            const int side = (r + k) % 2;  // ours first in even pairs, the peer in odd ones
            if (!run(commands[side], &times[side])) {
                std::fprintf(stderr, "paired_runs: %s failed\n", commands[side].args[0].c_str());
                return 1;
            }
            cpu[side].push_back(times[side].cpu_seconds);
            wall[side].push_back(times[side].wall_seconds);
        }
    }
    const double ours_cpu = median(cpu[0]), peer_cpu = median(cpu[1]);
    const double ours_wall = median(wall[0]), peer_wall = median(wall[1]);
    std::printf("| %s | %.0f ms | %.0f ms | %.2f | %.0f ms | %.0f ms | %.2f | %s |\n",
                label.c_str(), 1000 * ours_cpu, 1000 * peer_cpu, ours_cpu / peer_cpu,
                1000 * ours_wall, 1000 * peer_wall, ours_wall / peer_wall, same);
    return 0;
}
