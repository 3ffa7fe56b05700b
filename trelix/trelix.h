// The permutation driver hfp's interface to the TRELIX readers: one data
// set, held in a trelix_t of the program's, under the names hfp has always
// used. New code uses txlib.h and a state of its own; this header and its
// library (trelixhfp) go when hfp holds its trelix_t itself.
//
// getloci and noid_new print the readers' warnings and messages and end the
// program with status 1 on bad input, as hfp expects of them.
#pragma once

#include "txlib.h"

// The fields of hfp's trelix_t (see txlib.h).
extern int &nloci;
extern int &cc;
extern int &npermute;
extern int (&alleles)[TX_MAXLOCI];
extern int (&sel)[TX_MAXLOCI];
extern int (&selp)[TX_MAXLOCI];
extern int (&selidx)[TX_MAXLOCI];
extern int &selected;
extern int &selectp;
extern int &selectn;
extern rec_t *&r;
extern int &sample_size;
extern int &cases;

// tx_read_params, then the warnings on standard error and the summary on
// standard output. Returns 0.
int getloci(const char *path);

// tx_read_data, the records listed on standard output when the parameter
// file asks for it. Returns 0.
int noid_new(const char *path);
