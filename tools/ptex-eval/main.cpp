// ptex-eval: evaluates PtexFilter queries from a table on one Ptex file and prints the results,
// or (--check) compares them with the expected results stored in the table.
//   ptex-eval [--check] [--threads N] [--premultiply] FILE QUERIES.tsv
#include <Ptexture.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ProgramOutput.h"
#include "QueryTable.h"
#include "TextureParameterHelp.h"

using tarsk::ptexeval::FilterQuery;
using tarsk::ptexeval::QueryTable;

namespace {

struct Arguments {
    bool help = false;
    bool check = false;
    bool premultiply = false;
    int threads = 1;
    std::string file;
    std::string queries;
};

const char* kUsage = "usage: ptex-eval [--check] [--threads N] [--premultiply] FILE QUERIES.tsv\n";

int usage(const char* message)
{
    if (message) std::fprintf(stderr, "ptex-eval: %s\n", message);
    std::fputs(kUsage, stderr);
    return 2;
}

int help()
{
    std::printf(
        "%s"
        "Evaluates the PtexFilter queries of QUERIES.tsv (a header line, then one query per row with\n"
        "the columns filter lerp sharpness noedgeblend faceid u v uw1 vw1 uw2 vw2 width blur\n"
        "firstchan nchannels) on FILE and prints each row with its results r0, r1, ... to standard\n"
        "output. --check compares the results with the table's own r0, r1, ... columns instead and\n"
        "prints one line: queries, mismatches, worst error (exit 1 on a mismatch).\n"
        "  --threads N      evaluate on N threads (1 to 256; same output)\n"
        "  --premultiply    open FILE through a premultiplying cache\n"
        "Values of the filter column:\n%s"
        "Exit status 0, 1 for a mismatch or output that could not be written, 2 for bad input.\n",
        kUsage, tarsk::cli::filterTypeHelp());
    return tarsk::cli::finishStdout("ptex-eval: ") ? 0 : 1;
}

bool parseArguments(int argc, char** argv, Arguments& args, std::string& error)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            args.help = true;
            return true;
        } else if (a == "--check") {
            args.check = true;
        } else if (a == "--premultiply") {
            args.premultiply = true;
        } else if (a == "--threads") {
            if (i + 1 >= argc) {
                error = "--threads needs a number";
                return false;
            }
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 256) {
                error = std::string("bad thread count '") + argv[i] + "' (1 to 256)";
                return false;
            }
            args.threads = int(n);
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "'";
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) {
        error = "expected FILE and QUERIES.tsv";
        return false;
    }
    args.file = positional[0];
    args.queries = positional[1];
    return true;
}

// Evaluates queries i with i mod stride == first; each thread has its own filters.
void evaluate(PtexTexture* texture, const std::vector<FilterQuery>& queries, int first, int stride, int bufferSize,
              std::vector<float>& results)
{
    std::vector<float> buffer;
    for (size_t i = size_t(first); i < queries.size(); i += size_t(stride)) {
        const FilterQuery& q = queries[i];
        const int size = std::max(bufferSize, q.nchannels);
        buffer.assign(size_t(size), -7.0f);
        PtexFilter::Options options(PtexFilter::FilterType(q.filter), q.lerp != 0, q.sharpness, q.noedgeblend != 0);
        PtexPtr<PtexFilter> filter(PtexFilter::getFilter(texture, options));
        if (filter)
            filter->eval(buffer.data(), q.firstchan, q.nchannels, q.faceid, q.u, q.v, q.uw1, q.vw1, q.uw2, q.vw2,
                         q.width, q.blur);
        std::copy(buffer.begin(), buffer.begin() + bufferSize, results.begin() + i * size_t(bufferSize));
    }
}

void printFloat(std::string& out, float value)
{
    char text[64];
    if (std::isnan(value))
        std::snprintf(text, sizeof text, "nan");
    else
        std::snprintf(text, sizeof text, "%.9g", double(value));
    out += text;
}

void printQuery(std::string& out, const FilterQuery& q)
{
    const int ints[] = {q.filter, q.lerp};
    for (int v : ints) out += std::to_string(v) + "\t";
    printFloat(out, q.sharpness);
    out += "\t" + std::to_string(q.noedgeblend) + "\t" + std::to_string(q.faceid);
    for (float v : {q.u, q.v, q.uw1, q.vw1, q.uw2, q.vw2, q.width, q.blur}) {
        out += "\t";
        printFloat(out, v);
    }
    out += "\t" + std::to_string(q.firstchan) + "\t" + std::to_string(q.nchannels);
}

// Tolerance of the conformance data: |ours - ref| <= 1e-5 |ref| + 1e-6; NaN matches only NaN.
bool matches(float ours, float ref, double& error)
{
    if (std::isnan(ref) || std::isnan(ours)) {
        error = (std::isnan(ref) && std::isnan(ours)) ? 0.0 : INFINITY;
        return std::isnan(ref) && std::isnan(ours);
    }
    error = std::fabs(double(ours) - double(ref));
    return error <= 1e-5 * std::fabs(double(ref)) + 1e-6;
}

}  // namespace

int main(int argc, char** argv)
{
    Arguments args;
    std::string argError;
    if (!parseArguments(argc, argv, args, argError)) return usage(argError.c_str());
    if (args.help) return help();

    QueryTable table;
    std::string error;
    if (!tarsk::ptexeval::readQueryTable(args.queries, table, error)) {
        std::fprintf(stderr, "ptex-eval: %s\n", error.c_str());
        return 2;
    }

    PtexPtr<PtexCache> cache(PtexCache::create(1, 0, args.premultiply));
    if (!cache) {
        std::fprintf(stderr, "ptex-eval: cannot create a texture cache\n");
        return 2;
    }
    Ptex::String openError;
    PtexPtr<PtexTexture> texture(cache->get(args.file.c_str(), openError));
    if (!texture) {
        std::string message = openError.empty() ? "cannot open " + args.file : std::string(openError);
        std::replace(message.begin(), message.end(), '\n', ' ');
        while (!message.empty() && message.back() == ' ') message.pop_back();
        std::fprintf(stderr, "ptex-eval: %s\n", message.c_str());
        return 2;
    }

    const int numChannels = std::max(texture->numChannels(), 1);
    const std::vector<FilterQuery>& queries = table.queries;
    std::vector<float> results(queries.size() * size_t(numChannels), -7.0f);
    const int threads = std::max(1, std::min(args.threads, int(std::max<size_t>(queries.size(), 1))));
    if (threads == 1) {
        evaluate(texture.get(), queries, 0, 1, numChannels, results);
    } else {
        std::vector<std::thread> workers;
        workers.reserve(size_t(threads));
        for (int t = 0; t < threads; t++)
            workers.emplace_back(evaluate, texture.get(), std::cref(queries), t, threads, numChannels,
                                 std::ref(results));
        for (std::thread& w : workers) w.join();
    }

    if (!args.check) {
        std::string out;
        for (const std::string& name : tarsk::ptexeval::queryColumnNames()) out += name + "\t";
        for (int c = 0; c < numChannels; c++) out += "r" + std::to_string(c) + (c + 1 < numChannels ? "\t" : "\n");
        for (size_t i = 0; i < queries.size(); i++) {
            printQuery(out, queries[i]);
            for (int c = 0; c < numChannels; c++) {
                out += "\t";
                if (c < queries[i].nchannels) printFloat(out, results[i * size_t(numChannels) + size_t(c)]);
            }
            out += "\n";
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        return tarsk::cli::finishStdout("ptex-eval: ") ? 0 : 1;
    }

    int mismatches = 0;
    double worst = 0;
    for (size_t i = 0; i < queries.size(); i++) {
        const FilterQuery& q = queries[i];
        for (size_t c = 0; c < q.expected.size() && c < size_t(numChannels); c++) {
            const std::string& field = q.expected[c];
            if (field.empty()) continue;
            char* end = nullptr;
            const float ref = std::strtof(field.c_str(), &end);
            if (end != field.c_str() + field.size()) {
                std::fprintf(stderr, "ptex-eval: %s:%d: malformed row: bad value '%s' in column 'r%zu'\n",
                             args.queries.c_str(), q.line, field.c_str(), c);
                return 2;
            }
            const float ours = results[i * size_t(numChannels) + c];
            double err = 0;
            if (!matches(ours, ref, err)) {
                if (mismatches < 10)
                    std::fprintf(stderr, "mismatch at %s:%d r%zu: ours %.9g, expected %.9g\n", args.queries.c_str(),
                                 q.line, c, double(ours), double(ref));
                mismatches++;
            }
            worst = std::max(worst, err);
        }
    }
    std::printf("queries: %zu  mismatches: %d  worst error: %.3g\n", queries.size(), mismatches, worst);
    return tarsk::cli::finishStdout("ptex-eval: ") && mismatches == 0 ? 0 : 1;
}
