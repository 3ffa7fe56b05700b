// Limits of the fixed tables, announced in every program's banner.
#pragma once

// Haplotype estimator (hf, hfx).
constexpr int HF_MAXLOCI = 60;
constexpr int HF_MAXALLELES = 50;

// Programs that read parameter and data files (hfp, phf).
constexpr int TX_MAXLOCI = 30;
constexpr int TX_MAXALLELES = 50;
// Largest genotype code: the pair 50/50.
constexpr int TX_MAXCODE = TX_MAXALLELES + TX_MAXALLELES * (TX_MAXALLELES - 1) / 2;
