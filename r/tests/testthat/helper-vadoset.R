# vadoset-cli to compare with: VADOSET_CLI names it (scripts/test-r.sh sets
# it, with VADOSET_REQUIRE_CLI=1 so that a missing tool fails the tests
# instead of skipping them).
cli_path <- function() {
  cli <- Sys.getenv("VADOSET_CLI")
  if (nzchar(cli) && file.exists(cli)) return(cli)
  if (Sys.getenv("VADOSET_REQUIRE_CLI") == "1") stop("VADOSET_CLI does not name vadoset-cli: ", cli)
  testthat::skip("vadoset-cli not found (set VADOSET_CLI)")
}

# The table vadoset-cli writes for these arguments, as raw bytes.
cli_table <- function(...) {
  out <- tempfile(fileext = ".txt")
  on.exit(unlink(out))
  status <- system2(cli_path(), c(..., "-o", shQuote(out), "--quiet"))
  if (status != 0) stop("vadoset-cli failed: ", paste(...))
  readBin(out, "raw", file.size(out))
}

# The table write_vadoset_table() writes, as raw bytes.
r_table <- function(wb, ...) {
  out <- tempfile(fileext = ".txt")
  on.exit(unlink(out))
  write_vadoset_table(wb, out, ...)
  readBin(out, "raw", file.size(out))
}

sample_file <- function(name) {
  path <- system.file("extdata", name, package = "vadoset")
  if (!nzchar(path)) stop("sample file ", name, " is not installed")
  path
}

# Random records for comparisons: temperatures from polar to hot (with
# months at the hot-month threshold and at -1 degree), precipitation with
# fractions, deserts and wet months, latitudes over the whole range with a
# few beyond it, missing months in both spellings.
random_records <- function(n, seed) {
  set.seed(seed)
  base <- runif(n, -30, 30)
  season <- runif(n, 0, 20) * outer(sign(runif(n, -1, 1)), cos((1:12 - 7) * pi / 6))
  tmean <- round(base + season + matrix(rnorm(n * 12, 0, 2), n), 1)
  tmean[sample(length(tmean), n %/% 10)] <- sample(c(26.5, -1, 0, 26.4), n %/% 10, replace = TRUE)
  prec <- round(matrix(rexp(n * 12, 1 / 60), n) * sample(c(0.02, 1, 4), n, replace = TRUE), 1)
  lat <- round(runif(n, -89.9, 89.9), 2)
  lat[sample(n, 2)] <- c(90, -90)
  lat[sample(n, 1)] <- 95
  prec[sample(length(prec), 3)] <- NA
  tmean[sample(length(tmean), 2)] <- -9999
  list(tmean = tmean, prec = prec, lat = lat, id = sprintf("r%04d", seq_len(n)))
}

# Writes records as a tab-delimited pair for vadoset-cli; NA as "NA".
write_tab <- function(rec, prefix, fc = NULL) {
  header <- paste(c("Site", "Lat", month.abb), collapse = "\t")
  lines <- function(m, extra = NULL) {
    body <- apply(m, 1, function(r) paste(ifelse(is.na(r), "NA", format(r, trim = TRUE)), collapse = "\t"))
    paste(rec$id, format(rec$lat, trim = TRUE), body, sep = "\t")
  }
  p <- lines(rec$prec)
  if (!is.null(fc)) p <- paste(p, ifelse(is.na(fc), "", format(fc, trim = TRUE)), sep = "\t")
  writeLines(c(header, lines(rec$tmean)), paste0(prefix, "_temp.txt"))
  writeLines(c(header, p), paste0(prefix, "_prec.txt"))
  c(t = paste0(prefix, "_temp.txt"), p = paste0(prefix, "_prec.txt"))
}

# The warnings of one water_balance() call.
water_balance_warnings <- function(...) {
  texts <- character()
  withCallingHandlers(water_balance(...), warning = function(w) {
    texts <<- c(texts, conditionMessage(w))
    invokeRestart("muffleWarning")
  })
  texts
}
