// Permuted score statistics in batches: one matrix product D' R per batch
// (assoc.h), the rest as assoc_permuted computes it.

#include "assoc.h"

#include <cstring>

#include <sys/mman.h>

#include <cblas.h>

// OpenBLAS built with its own threads starts them when it is loaded, and
// they spin, yielding, until a timeout: with one thread for the products
// they are never needed, and are stopped at once. Builds without them lack
// the call.
extern "C" void blas_thread_shutdown_(void) __attribute__((weak));

void assoc_blas_one_thread()
{
  openblas_set_num_threads(1);
  if (blas_thread_shutdown_)
    blas_thread_shutdown_();
}

// A reservation without access takes address space only, and is given back
// at once.
bool assoc_blas_room(size_t products)
{
  if (products == 0)
    return true;
  size_t bytes = products * ASSOC_BLAS_AREA;
  void *p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED)
    return false;
  munmap(p, bytes);
  return true;
}

void assoc_batch_dosages(const assoc_dosage_t &x, const std::vector<int> &genotype, assoc_batch_t &b)
{
  const size_t k = x.k, n = genotype.size();
  b.d.resize(n * k);
  for (size_t i = 0; i < n; i++)
    if (k)
      memcpy(b.d.data() + i * k, x.mean.data() + static_cast<size_t>(genotype[i]) * k, k * sizeof(double));
}

namespace {

// U (k x perms, column-major) = A' B, A row-major rows x k, B rows x perms
// column-major.
void product(const double *a, const double *bmat, size_t rows, size_t k, size_t perms, std::vector<double> &u)
{
  u.resize(k * perms);  // every element written by the product (beta 0)
  if (k && rows && perms)
    // Column-major, A' is k x rows with leading dimension k: the row-major A.
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, static_cast<int>(k),
                static_cast<int>(perms), static_cast<int>(rows), 1.0, a, static_cast<int>(k),
                bmat, static_cast<int>(rows), 0.0, u.data(), static_cast<int>(k));
}

void statistics(const assoc_null_t &m, const assoc_test_t &t, size_t perms, assoc_batch_t &b, double *chi2)
{
  const size_t k = t.u.size();
  for (size_t c = 0; c < perms; c++)
    chi2[c] = assoc_projected(m, t, b.u.data() + c * k);
}

} // namespace

void assoc_permuted_batch(const assoc_null_t &m, const assoc_test_t &t, const double *resid,
                          size_t perms, assoc_batch_t &b, double *chi2)
{
  const size_t k = t.u.size(), n = k ? b.d.size() / k : 0;
  product(b.d.data(), resid, n, k, perms, b.u);
  statistics(m, t, perms, b, chi2);
}

void assoc_permuted_batch_sums(const assoc_null_t &m, const assoc_dosage_t &x, const assoc_test_t &t,
                               const double *sums, size_t perms, assoc_batch_t &b, double *chi2)
{
  product(x.mean.data(), sums, x.genotypes, x.k, perms, b.u);
  statistics(m, t, perms, b, chi2);
}
