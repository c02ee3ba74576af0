# Argument checks shared by the package's functions. Every error names the
# argument and comes from the user's own call, with the class
# "vadoset_error" for programs that catch it.

vs_error <- function(message, call) {
  stop(structure(class = c("vadoset_error", "error", "condition"),
                 list(message = message, call = call)))
}

vs_warning <- function(message, call) {
  warning(structure(class = c("vadoset_warning", "warning", "condition"),
                    list(message = message, call = call)))
}

# A short description of a value for messages: "a character vector",
# "a list", "NULL".
describe_value <- function(x) {
  if (is.null(x)) return("NULL")
  if (is.data.frame(x)) return(sprintf("a data frame with %d columns", ncol(x)))
  if (is.matrix(x)) return(sprintf("a %s matrix with %d columns", typeof(x), ncol(x)))
  if (is.atomic(x) && length(x) == 1) return(sprintf("%s", deparse(x, nlines = 1)[1]))
  sprintf("a %s vector of length %d", class(x)[1], length(x))
}

check_flag <- function(x, name, call) {
  if (!is.logical(x) || length(x) != 1 || is.na(x))
    vs_error(sprintf("%s must be TRUE or FALSE, not %s", name, describe_value(x)), call)
  x
}

# The index (0 for "A") of an availability function's letter.
check_curve <- function(curve, call) {
  letters <- strsplit(cpp_curves(), "")[[1]]
  if (!is.character(curve) || length(curve) != 1 || is.na(curve) || !(toupper(curve) %in% letters))
    vs_error(sprintf("curve must be one letter from %s to %s (the declining availability function), not %s",
                     letters[1], letters[length(letters)], describe_value(curve)), call)
  match(toupper(curve), letters) - 1L
}

# A whole number of at least 1, or NULL (0 for the engine: one per core).
check_threads <- function(x, name, call, allow_null = TRUE) {
  if (allow_null && is.null(x)) return(0L)
  if (!is.numeric(x) || length(x) != 1 || is.na(x) || x < 1 || x != trunc(x) || x > 1024)
    vs_error(sprintf("%s must be %sa whole number from 1 to 1024, not %s", name,
                     if (allow_null) "NULL or " else "", describe_value(x)), call)
  as.integer(x)
}

# One field capacity for the whole run, as vadoset-cli takes
# --field-capacity: the fraction dropped, at least 1 mm.
check_field_capacity <- function(x, call, or = "or one a record") {
  ok <- is.numeric(x) && length(x) == 1 && is.finite(x) && abs(x) < 2^31 && trunc(x) >= 1
  if (!ok)
    vs_error(sprintf("field_capacity must be a positive number of millimetres (at least 1), %s; not %s",
                     or, describe_value(x)), call)
  trunc(as.numeric(x))
}
