// hfimport: genotypes from PLINK and VCF files into parameter, data and
// estimator input files. Every reader fills the same in-memory window: the
// markers chosen, every sample of the input, and the called alleles of each
// sample at each chosen marker as spelled in the input.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// Bad input or an impossible request: the message names the file and line
// (or the option) and the program ends with status 1.
struct input_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Sex as PLINK codes it: 1 male, 2 female, 0 unknown.
enum { SEX_UNKNOWN = 0, SEX_MALE = 1, SEX_FEMALE = 2 };
// Case-control status: 2 case, 1 control, 0 unknown.
enum { STATUS_UNKNOWN = 0, STATUS_CONTROL = 1, STATUS_CASE = 2 };

struct marker_t {
  std::string chrom;
  std::string name;
  long pos = 0;
  int index = 0;                     // 1-based position among the input's markers
  std::vector<std::string> alleles;  // allele spellings; allele number k is alleles[k-1]
};

struct sample_t {
  std::string fid, iid;
  int sex = SEX_UNKNOWN;
  int status = STATUS_UNKNOWN;
  // The phenotype field of the .ped/.fam as written (empty for a VCF), and
  // the line that lists the sample there (0 for a VCF): a quantitative trait
  // is read from it, where the status keeps only case and control.
  std::string pheno;
  int line = 0;
};

// One call: the two allele spellings as read; an empty spelling is a missing
// allele. A haploid call is stored as a homozygote.
struct call_t {
  std::string a, b;
};

struct window_t {
  std::vector<marker_t> markers;
  std::vector<sample_t> samples;
  std::vector<std::vector<call_t>> calls;  // calls[marker][sample]
};

// Which markers to keep. At most one of names, region and index range is set;
// none keeps every marker.
struct selector_t {
  std::vector<std::string> names;  // from a name list file
  bool by_names = false;
  std::string chrom;               // region: chromosome and inclusive positions
  long from = 0, to = 0;
  bool by_region = false;
  int first = 0, last = 0;         // 1-based inclusive index range
  bool by_index = false;
  // A listed name that no marker of the input bears is a warning rather
  // than an error (--allow-missing-markers).
  bool allow_missing = false;
};

// Window selection (window.cpp).
std::string canonical_chrom(const std::string &chrom);
bool wanted(const selector_t &sel, const marker_t &m);
// CHR:FROM-TO, or CHR alone for the whole chromosome (--region, --chr).
void parse_region(const std::string &text, selector_t &sel);
void parse_index_range(const std::string &text, selector_t &sel);
void read_name_list(const std::string &path, selector_t &sel);
// Every listed name must be borne by a kept marker, and by one only. A
// listed name that none bears is an error, or with sel.allow_missing the
// returned warning naming them ("" when every name is found).
std::string check_names_found(const selector_t &sel, const std::vector<marker_t> &kept,
                              const std::string &input);
// A warning naming the names that more than one of the kept markers bear,
// with their indexes in the input; "" when every name is unique.
std::string duplicate_names(const std::vector<marker_t> &kept, const std::string &input);

// One marker's calls as the input codes them: the allele spellings (in the
// order the file declares or first uses them; a spelling may repeat) and,
// per sample, the indexes of its two alleles among them, -1 for a missing
// call. A haploid call is a homozygote.
struct marker_calls_t {
  marker_t marker;                     // alleles empty: numbering fills them
  std::vector<std::string> spellings;
  std::vector<int32_t> a, b;           // [sample]
};

// A genotype input read marker by marker, so that memory follows the markers
// in use rather than the file: the samples are read on opening, then one
// marker's calls at a time. The readers check the input as they go and throw
// input_error naming the file and line (or record).
class marker_source_t {
 public:
  virtual ~marker_source_t() = default;
  std::vector<sample_t> samples;
  // The markers the selector keeps, in input order. Known on opening for
  // PLINK inputs and for a VCF opened with a marker pass; a VCF read in one
  // pass adds each marker as next() returns it.
  std::vector<marker_t> markers;
  bool markers_known = true;
  // Every marker of the input, kept or not; complete when the markers are.
  size_t input_markers = 0;
  // What the input holds that is read but worth a word (marker names borne
  // by more than one kept marker), one sentence each, naming the file; the
  // program prints them. Complete once the markers are known: on opening,
  // or for a VCF read in one pass once next() has returned false.
  std::vector<std::string> warnings;
  // Reads the next kept marker into out; false after the last one, once the
  // checks that need every marker (every listed name found) have passed.
  virtual bool next(marker_calls_t &out) = 0;
  // Makes kept marker j (0-based, known) the next one that next() returns.
  // .bed and .ped inputs go there at once; a VCF reads past the records in
  // between, so j must not lie before the next marker.
  virtual void skip_to(size_t j) = 0;
};

// Readers (plink_text.cpp, plink_bed.cpp, vcf.cpp). The file names are the
// full paths of each part. A .ped file holds one individual per line, so
// its source reads it whole on opening into a table of allele codes (two
// bytes per call for up to 255 spellings per marker); a .bed file is read
// one marker's block at a time; a VCF one record at a time, with a first
// pass over the records for the marker list when marker_pass is set.
std::unique_ptr<marker_source_t> open_ped(const std::string &ped, const std::string &map,
                                          const selector_t &sel);
std::unique_ptr<marker_source_t> open_bed(const std::string &bed, const std::string &bim,
                                          const std::string &fam, const selector_t &sel);
std::unique_ptr<marker_source_t> open_vcf(const std::string &path, const selector_t &sel,
                                          bool marker_pass);
bool vcf_supported();

// Every file a run reads is checked before it is read, and a genotype file
// named on the command line before the companions found from its name: a
// misspelt stud.ped is reported as such, not as a missing stud.map. Throws
// input_error for a directory or a file that cannot be opened.
void check_input(const std::string &path);

// The command line, one argument at a time; an option's value is the next
// argument or is joined to the option by "=" (--name=VALUE) (cmdline.cpp).
class cmdline_t {
public:
  cmdline_t(int argc, char **argv) : argc_(argc), argv_(argv) {}
  // Moves to the next argument; false after the last.
  bool next();
  // The argument, without "=VALUE"; whether a value was joined; the
  // argument as typed.
  const std::string &arg() const { return arg_; }
  bool has_value() const { return has_value_; }
  const char *typed() const { return argv_[i_]; }
  // The option's value; throws input_error when none follows.
  std::string take();

private:
  int argc_;
  char **argv_;
  int i_ = 0;
  std::string arg_, value_;
  bool has_value_ = false;
};

// The options that name the input and the output, choose the markers and
// the samples' status and sex, which the programs share.
struct input_options_t {
  selector_t sel;
  int windows = 0; // how many of --markers, --region, --chr and --index were given
  std::vector<std::string> window_options;  // their names, in the order given
  std::string pheno, pheno_col, sex_file;
  bool pheno_col_number = false;  // --pheno-col-nums: pheno_col is a column number
  // PLINK's way of naming files: the genotype input by --bfile PREFIX,
  // --file PREFIX or --vcf FILE (genotype_option is the option, "" when
  // none was given; genotype the path it names) and --out PREFIX.
  std::string genotype_option, genotype, out;
};
// Takes the current argument when it is one of these options.
bool take_input_option(cmdline_t &c, input_options_t &in);
// After the whole command line: one way of choosing markers (the markers
// are called what, in the message), a status column with every phenotype
// table and none without.
void check_input_choice(const input_options_t &in, const char *what);
// The phenotype and sex tables can be read; a phenotype column given by
// number (--pheno-col-nums N, or --pheno-col N when no column bears the
// name N) is replaced by its name in pheno_col.
void check_input_tables(input_options_t &in);

// The input and the output of a program whose positional form is
// "INPUT OUTPUT": the input is --bfile/--file/--vcf or the first argument
// (a name without a known ending goes through find_genotypes), the output
// --out PREFIX (prefix set) or the second argument. Neither input nor
// output may be given both ways; usage is the message for a wrong number
// of arguments. Throws input_error.
struct io_names_t {
  std::string input, output;
  bool prefix = false;  // output is --out's PREFIX, not a file name as given
};
io_names_t resolve_io(const input_options_t &in, const std::vector<std::string> &positional,
                      const std::string &usage);
// The files that open_input reads for input: the file itself and, for
// PLINK files, its companions.
std::vector<std::string> input_files(const std::string &input);
// The genotype files of a name given without a known ending: NAME.bed when
// it exists and NAME.ped does not, NAME.ped when only it exists; both, or
// neither, is an error naming what was looked for. A name with a known
// ending (.bed, .ped, .vcf, .vcf.gz, .vcf.bgz, .bcf) is returned as it is,
// and so is a file of another kind, which open_input then refuses.
std::string find_genotypes(const std::string &name);
// The name ends as a VCF or BCF file does.
bool vcf_name(const std::string &name);

// The source for INPUT by its name: NAME.ped with NAME.map, NAME.bed with
// NAME.bim and NAME.fam, or a VCF/BCF file (.vcf, .vcf.gz, .vcf.bgz, .bcf).
// plink is set for the PLINK kinds, whose samples have family identifiers
// (source.cpp). Each file is checked with check_input first.
std::unique_ptr<marker_source_t> open_input(const std::string &input, const selector_t &sel,
                                            bool marker_pass, bool &plink);

// Every remaining marker of a source with its calls as spellings
// (source.cpp), and the readers of whole windows built on it.
window_t read_window(marker_source_t &src);
window_t read_ped(const std::string &ped, const std::string &map, const selector_t &sel);
window_t read_bed(const std::string &bed, const std::string &bim, const std::string &fam,
                  const selector_t &sel);
window_t read_vcf(const std::string &path, const selector_t &sel);

// Shared pieces of the PLINK readers (plink_text.cpp).
std::vector<std::string> split_words(const std::string &line);
// The sex and status of a .ped or .fam line; a field that is neither a
// number nor NA or . is an error, reported at "at" (file and line).
int plink_sex(const std::string &code, const std::string &at);
int plink_status(const std::string &code, const std::string &at);
std::vector<marker_t> read_map(const std::string &path);
void add_sample(std::vector<sample_t> &samples, std::set<std::string> &seen, const sample_t &s,
                const std::string &at);

// Sample tables: files with one line per sample of the input. A row names
// its sample by the IID column (also accepted: ID, SAMPLE), together with
// the FID column when the table has one and the input is a PLINK file
// (match_fid). A VCF sample name is matched against the IID and, when the
// table has an FID column, against FID_IID (the form PLINK writes into a
// VCF); a row that would name one sample by IID and another by FID_IID is
// an error. A sample listed twice is an error; a row that names no sample
// of the input is counted; a table none of whose rows names a sample of the
// input is an error (a table keyed wrongly would otherwise change the test
// silently).
struct table_match_t {
  size_t rows = 0;       // rows read
  size_t matched = 0;    // rows that named a sample of the input
  size_t unknown = 0;    // rows that named none
  std::string by;        // how rows were matched: "FID and IID", "IID", "FID_IID", or
                         // "IID (n rows) and FID_IID (m rows)"
};
// A line for the user about a table whose rows did not all name a sample,
// or were matched by FID_IID; empty when there is nothing to say.
std::string table_note(const std::string &path, const table_match_t &m);

// The column of a phenotype table that a --pheno-col value names: the
// column of that name; failing one, a value of digits alone is the column's
// number, counted from 1 over every column of the header (FID and IID
// too), as is every value when by_number is set (--pheno-col-nums).
// Returns the column's name as the header writes it, or the value itself
// when it is taken as a name; a number beyond the header or naming a
// sample column, or a name borne by two columns, is an error.
std::string phenotype_column(const std::string &path, const std::string &value, bool by_number);

// Phenotype and sex tables: a header line naming the columns, then one line
// per sample (samples.cpp). Sets the status (or the sex) of every sample of
// the window from the named column; samples that the table does not list get
// an unknown value.
table_match_t apply_status_table(const std::string &path, const std::string &column,
                                 std::vector<sample_t> &samples, bool match_fid);
table_match_t apply_sex_table(const std::string &path, const std::string &column,
                              std::vector<sample_t> &samples, bool match_fid);
table_match_t apply_status_table(const std::string &path, const std::string &column,
                                 window_t &w, bool match_fid);
table_match_t apply_sex_table(const std::string &path, const std::string &column, window_t &w,
                              bool match_fid);

// The trait of an association test (samples.cpp).
enum trait_kind_t { TRAIT_AUTO = 0, TRAIT_BINARY = 1, TRAIT_QUANTITATIVE = 2 };
struct trait_t : table_match_t {  // the counts of a table; zero for the .ped/.fam
  bool binary = true;     // the kind taken
  // Per sample of the input, in input order: binary 1 = case (PLINK's 2),
  // 0 = control (PLINK's 1); quantitative: the value; NaN when missing.
  std::vector<double> y;
  // One line for the user: which kind was taken and why, and from where
  // (file and column, or the .ped/.fam).
  std::string how;
};
// The named column of a phenotype table (pheno_path non-empty; an empty
// column takes the first column that is neither FID nor IID), else the
// phenotype field of the .ped/.fam (a VCF has none: every value missing).
// TRAIT_AUTO: binary when every value is 1, 2 or a missing code (0, -9, NA,
// .), quantitative otherwise, where -9, NA and . are missing and 0 is a
// value. TRAIT_BINARY refuses any other value; TRAIT_QUANTITATIVE reads
// every value as a decimal number. A refused value is named with the file
// and line (for the .ped/.fam: the individual and its line).
trait_t read_trait(const std::vector<sample_t> &samples, const std::string &pheno_path,
                   const std::string &column, trait_kind_t kind, bool match_fid);

// Covariates (covariates.cpp): PLINK's covariate file, a header line FID IID
// NAME1 NAME2 ... then one line per sample.
struct covariates_t : table_match_t {
  // The design columns in order: a numeric column by its name; a
  // categorical column C as dummies "C=level", one per level but the first
  // (levels in sorted byte order over the samples of the input; the first is
  // the reference).
  std::vector<std::string> names;
  // x[sample][column], samples in input order; NaN in every column of a
  // variable whose value is missing (NA, -9, .) or whose sample the table
  // lacks.
  std::vector<std::vector<double>> x;
};
// names: the columns to use (--covar-name), empty for all. A column with any
// value that is neither a number nor missing, among the samples of the
// input, is categorical. Errors name the file and line: no header (the first
// line does not begin FID IID), a named column that is absent, a column
// named twice in the header, a duplicated sample, a line whose field count
// differs from the header's, a NUL byte, a column with no value for any
// sample of the input.
covariates_t read_covariates(const std::string &path, const std::vector<std::string> &names,
                             const std::vector<sample_t> &samples, bool match_fid);

// Clusters (covariates.cpp): PLINK's cluster file (--within), FID IID
// CLUSTER per line, no header.
struct clusters_t : table_match_t {
  std::vector<int> cluster;        // per sample: 0-based cluster number, -1 when unlisted
  std::vector<std::string> names;  // cluster names by number, in order of first appearance
                                   // among the samples of the input
};
// Errors name the file and line: a line of other than three fields, a
// duplicated sample, a NUL byte.
clusters_t read_clusters(const std::string &path, const std::vector<sample_t> &samples,
                         bool match_fid);

// Allele numbering (alleles.cpp): every marker's alleles are numbered 1..L in
// ascending order of their spelling, over the alleles called in any sample.
// Returns per marker and sample the two numbers, smaller first, 0 for missing.
struct coded_t {
  std::vector<std::vector<int>> a, b;  // [marker][sample]
};
coded_t number_alleles(window_t &w);
// The rule itself, for one marker: the numbers (1-based) of the spellings
// that called[i] marks as used, in ascending spelling order; equal
// spellings share a number. alleles receives the numbered spellings;
// number[i] is 0 for a spelling no call uses. Returns the allele count, 0
// when no spelling is used.
int number_spellings(const std::vector<std::string> &spellings, const std::vector<bool> &called,
                     std::vector<std::string> &alleles, std::vector<int> &number);

// Output files (writers.cpp).
struct output_options_t {
  bool trelix = true;     // parameter and data file
  bool hf = false;        // autosomal estimator input
  bool hfx = false;       // X-chromosome estimator input
  bool use_status = true; // case-control status when the input has it
  int permutations = 1000;
  int block1 = -1;        // loci of Block 1 (the first ones of the window); -1: all
};
struct write_summary_t {
  bool casecontrol = false;
  int cases = 0, controls = 0, left_out = 0;  // data file
  int hfx_males = 0, hfx_females = 0, hfx_unknown_sex = 0, hfx_het_males = 0;
  // What the files hold that the user may not expect, one sentence each.
  std::vector<std::string> warnings;
};
void check_limits(const window_t &w, const output_options_t &opt);
// Case-control status of only one class makes the parameter and data files
// useless for the case-control test: without estimator input asked for too,
// that is refused; with it, they are written without the status, as with
// use_status off, and a warning says so.
write_summary_t write_outputs(const std::string &prefix, const std::string &input,
                              const window_t &w, const coded_t &c, const output_options_t &opt);

