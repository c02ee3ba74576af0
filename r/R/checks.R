# The input checks that vadoset-cli makes of every record, for arrays: values
# that are numbers to the model but most likely a mistake (swapped inputs,
# the wrong unit, a missing-value code that is not one). They never change
# the results; each kind gives one warning with a count and the first place.
#
# A check is a state (a list) that sees the inputs block by block
# (check_inputs), then the results (check_results); input_warnings() gives
# the texts. A new check is one more entry in check_inputs() and its text
# in input_warnings().

new_checks <- function() {
  list(records = 0, nulls = 0, found = list())
}

# Counts one kind of finding: `first` is where it was first seen.
note_finding <- function(state, kind, count, first) {
  if (count == 0) return(state)
  f <- state$found[[kind]]
  if (is.null(f)) f <- list(count = 0, first = first)
  f$count <- f$count + count
  state$found[[kind]] <- f
  state
}

# The month values of one block of records (matrices, or lists of
# columns), as the model reads them. `where(row, column, value)` describes a
# place for the messages (column NA for the latitude).
check_inputs <- function(state, tmean, prec, lat, keep, records, where) {
  state$records <- state$records + records
  found <- cpp_check_values(tmean, prec, lat, keep)
  for (kind in names(found)) {
    f <- found[[kind]]
    if (f[1] == 0) next
    value <- if (kind == "temperature_range") sprintf("%s \u00b0C", format(f[4])) else format(f[4])
    # One latitude for every record: all of them.
    count <- if (kind == "latitude" && length(lat) == 1) records else f[1]
    state <- note_finding(state, kind, count, where(f[2], if (kind == "latitude") NA else f[3], value))
  }
  state
}

# The results: how many records are null.
check_results <- function(state, reason) {
  state$nulls <- state$nulls + sum(reason != as.raw(0))
  state
}

# One warning a kind, in the order the kinds were first seen.
input_warnings <- function(state, inputs = "tmean and prec") {
  out <- character()
  plural <- function(n, one, many) if (n == 1) one else many
  for (kind in names(state$found)) {
    f <- state$found[[kind]]
    n <- f$count
    first <- if (n == 1) sprintf(" (%s)", f$first) else sprintf(" (the first: %s)", f$first)
    out <- c(out, switch(kind,
      temperature_range = sprintf("%d %s outside -80 to 60 \u00b0C%s. Are %s swapped, or the temperatures not in \u00b0C?",
                                  n, plural(n, "monthly mean temperature lies", "monthly mean temperatures lie"),
                                  first, inputs),
      negative_precipitation = sprintf(paste0("%d %s negative%s. A missing-value code such as -99.9 or -999 is ",
                                              "taken as a number: mark a missing month with NA or -9999."),
                                       n, plural(n, "monthly precipitation total is",
                                                 "monthly precipitation totals are"), first),
      huge_precipitation = sprintf("%d %s 5000 mm%s. Are %s swapped, or the values in tenths of a millimetre?",
                                   n, plural(n, "monthly precipitation total exceeds",
                                             "monthly precipitation totals exceed"), first, inputs),
      latitude = sprintf("%d %s no latitude from -90 to 90 decimal degrees%s; %s null.",
                         n, plural(n, "record has", "records have"), first,
                         plural(n, "its row is", "their rows are"))))
  }
  if (state$records > 0 && state$nulls == state$records)
    out <- c(out, "every record is a null row: check the inputs (null_reason says why).")
  out
}
