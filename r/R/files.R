#' Read the input files of vadoset-cli
#'
#' Reads a temperature file and a precipitation file in one of
#' \code{vadoset-cli}'s input formats, with the same readers: the records
#' come out as the tool would compute them, for \code{\link{water_balance}}.
#'
#' @param temperature,precipitation The two files' paths. Each holds a header
#'   line, then one record a line; the n-th record of one is paired with the
#'   n-th of the other. The identifier and latitude come from the
#'   precipitation file.
#' @param format \code{"tab"} (tab-delimited: identifier, latitude, January
#'   to December), \code{"hcn"} (fixed columns in tenths of a degree and of a
#'   millimetre, the year as identifier; the header must begin with
#'   \code{HCN}) or \code{"csv"} (the tab-delimited fields as RFC 4180 CSV;
#'   a header with semicolons and no comma makes semicolons the separator
#'   and commas the decimal sign).
#' @param latitude The HCN format's latitude for every record, in decimal
#'   degrees (that format has no latitude field; \code{vadoset-cli
#'   --latitude}). Not used by the other formats.
#' @param field_capacity The field capacity of every record without its own,
#'   mm: whole millimetres, at least 1.
#' @param field_capacity_field Tab format: the field (15 or more) of each
#'   precipitation line that holds the record's own field capacity (an empty
#'   field takes \code{field_capacity}). A CSV precipitation file gives it in
#'   a column named \code{field_capacity}, found by its header.
#' @param keep_precipitation_fraction \code{FALSE}: precipitation in whole
#'   millimetres, its fraction dropped as \code{vadoset-cli} does;
#'   \code{TRUE}: kept.
#'
#' @details A month that holds \code{-9999}, \code{NA} or no number is
#' missing (\code{NA}), and so is a latitude that is not a number from -90 to
#' 90; \code{water_balance()} gives such records a null row. Blank lines at
#' the end of the precipitation file are not records. Lines longer than 16
#' MiB are cut there, with a warning. A warning also says when the two
#' files' identifiers differ or their lengths do (the files are paired line
#' by line), as \code{vadoset-cli} does.
#'
#' @return A data frame of class \code{vadoset_records}, one row a record:
#'   \code{id} (the identifier as the file holds it), \code{line} (its line
#'   in the precipitation file), \code{lat}, \code{field_capacity}, and the
#'   matrices \code{tmean} (\eqn{^\circ}C) and \code{prec} (mm) of 12 columns,
#'   in the model's units (HCN tenths already divided). Give it to
#'   \code{water_balance()} as it is.
#'
#' Errors (class \code{vadoset_error}) give \code{vadoset-cli}'s messages: a
#' file that does not exist or cannot be read, an HCN file without its
#' header, a file that changed while it was read.
#' @seealso \code{\link{write_vadoset_table}} writes the table.
#' @examples
#' tfile <- system.file("extdata", "allsites_temp.txt", package = "vadoset")
#' pfile <- system.file("extdata", "allsites_prec.txt", package = "vadoset")
#' stations <- read_vadoset(tfile, pfile)
#' stations[1:3, c("id", "lat")]
#' stations$tmean[1:3, ]
#'
#' # Ten years of HCN data: tenths, and the latitude given here.
#' hcn <- read_vadoset(system.file("extdata", "hcn_temp.txt", package = "vadoset"),
#'                     system.file("extdata", "hcn_prec.txt", package = "vadoset"),
#'                     format = "hcn", latitude = 44.47)
#' hcn$prec[1:2, ]
#' @export
read_vadoset <- function(temperature, precipitation, format = c("tab", "hcn", "csv"), latitude = NULL,
                         field_capacity = 100, field_capacity_field = NULL, keep_precipitation_fraction = FALSE) {
  call <- sys.call()
  for (name in c("temperature", "precipitation")) {
    path <- get(name)
    if (!is.character(path) || length(path) != 1 || is.na(path) || !nzchar(path))
      vs_error(sprintf("%s must be the path of a file, not %s", name, describe_value(path)), call)
  }
  format <- match_choice(format, cpp_names()$formats, "format", call)
  if (format == "hcn") {
    if (is.null(latitude))
      vs_error(paste("latitude is needed with the HCN format, which has no latitude field: give the",
                     "stations' latitude in decimal degrees"), call)
    if (!is.numeric(latitude) || length(latitude) != 1 || is.na(latitude) || abs(latitude) > 90)
      vs_error(sprintf("latitude must be a number of decimal degrees from -90 to 90, not %s",
                       describe_value(latitude)), call)
  } else if (!is.null(latitude)) {
    vs_error(sprintf(paste("latitude is only for the HCN format: the %s format takes each record's",
                           "latitude from its precipitation file"), format), call)
  }
  field_capacity <- check_field_capacity(field_capacity, call, or = "for the records without their own")
  fc_field <- 0L
  if (!is.null(field_capacity_field)) {
    if (format != "tab")
      vs_error(sprintf("field_capacity_field is for the tab format%s", if (format == "csv")
        ": a CSV file gives it in a column named field_capacity" else ""), call)
    ok <- is.numeric(field_capacity_field) && length(field_capacity_field) == 1 &&
      !is.na(field_capacity_field) && field_capacity_field == trunc(field_capacity_field) &&
      field_capacity_field >= 15 && field_capacity_field < 2^31
    if (!ok)
      vs_error(sprintf("field_capacity_field must be a field number of 15 or more (after the 14 of a record), not %s",
                       describe_value(field_capacity_field)), call)
    fc_field <- as.integer(field_capacity_field)
  }
  check_flag(keep_precipitation_fraction, "keep_precipitation_fraction", call)

  r <- cpp_read(path.expand(temperature), path.expand(precipitation), format,
                if (is.null(latitude)) NA_real_ else as.double(latitude), field_capacity, fc_field,
                keep_precipitation_fraction)
  if (!is.null(r$error)) vs_error(r$error, call)

  # Identifiers are the file's bytes: UTF-8 where they are, else bytes.
  id <- r$id
  valid <- validUTF8(id)
  Encoding(id[valid]) <- "UTF-8"
  Encoding(id[!valid]) <- "bytes"
  dimnames(r$tmean) <- list(NULL, month.abb)
  dimnames(r$prec) <- list(NULL, month.abb)
  n <- length(id)
  out <- structure(list(id = id, line = as.integer(r$line), lat = r$lat, field_capacity = r$field_capacity),
                   class = "data.frame", row.names = .set_row_names(n))
  out$tmean <- r$tmean
  out$prec <- r$prec
  class(out) <- c("vadoset_records", "data.frame")
  attr(out, "format") <- format
  attr(out, "keep_precipitation_fraction") <- keep_precipitation_fraction

  tname <- basename(temperature)
  if (r$ids_differ > 0)
    vs_warning(sprintf(paste("the identifiers of the two files differ in %d %s (the first: line %d). The files are",
                             "paired line by line: both must hold the same records in the same order, with one",
                             "header line each."), r$ids_differ, if (r$ids_differ == 1) "record" else "records",
                       out$line[r$first_differ]), call)
  if (r$tmean_ended > 0)
    vs_warning(sprintf(paste("the temperature file ended before the precipitation file: %d %s no temperature line;",
                             "%s null."), r$tmean_ended, if (r$tmean_ended == 1) "record has" else "records have",
                       if (r$tmean_ended == 1) "its row is" else "their rows are"), call)
  if (r$more_temperatures)
    vs_warning(sprintf(paste("the temperature file has more records than the precipitation file: the lines of",
                             "%s after line %d were not read."), tname, n + 1), call)
  if (r$lines_cut > 0)
    vs_warning(sprintf("%d %s longer than 16 MiB and %s cut there.", r$lines_cut,
                       if (r$lines_cut == 1) "line is" else "lines are", if (r$lines_cut == 1) "was" else "were"),
               call)
  out
}

#' Write the table of vadoset-cli
#'
#' Writes \code{water_balance()}'s results as \code{vadoset-cli} writes its
#' table, byte for byte: a header line, then one row a record, its identifier,
#' a tab and its columns, or the identifier, a tab and \code{*} for a null
#' row. Numbers are written in the shortest form that reads back as the same
#' double, never rounded.
#'
#' @param x What \code{water_balance()} returned (either form).
#' @param file The table's path. The table is written to a temporary file
#'   beside it and moved into place once complete (its data on the disk
#'   first), so a failure never leaves half a table over an earlier file.
#' @param columns The column groups after the identifier, in order, as
#'   \code{vadoset-cli --columns} takes them: \code{"classic"} (PET, AET and
#'   surplus by month, then their sums), \code{"deficit"}, \code{"soil"},
#'   \code{"snow"}, \code{"precip"}; a vector or one comma-separated text.
#' @param line_ending \code{"cr"} (the tool's default), \code{"lf"} or
#'   \code{"crlf"}.
#' @param id The identifiers: \code{NULL} for \code{x}'s \code{id} column
#'   (else its first identifier column, else the row numbers), the name of a
#'   column of \code{x}, or a vector with one a record. Tabs and line breaks
#'   in them become spaces, as the CSV reader makes them.
#' @return \code{file}, invisibly.
#' @examples
#' tfile <- system.file("extdata", "allsites_temp.txt", package = "vadoset")
#' pfile <- system.file("extdata", "allsites_prec.txt", package = "vadoset")
#' wb <- water_balance(read_vadoset(tfile, pfile))
#' out <- tempfile(fileext = ".txt")
#' write_vadoset_table(wb, out)
#' # The same bytes as vadoset-cli -t allsites_temp.txt -p allsites_prec.txt -o out.txt
#' substr(readChar(out, 200), 1, 60)
#' write_vadoset_table(wb, out, columns = c("classic", "deficit"), line_ending = "lf")
#' @export
write_vadoset_table <- function(x, file, columns = "classic", line_ending = c("cr", "lf", "crlf"), id = NULL) {
  call <- sys.call()
  if (!is.list(x) || is.null(x$null) || !is.logical(x$null))
    vs_error(sprintf("x must be what water_balance() returned, not %s", describe_value(x)), call)
  if (!is.character(file) || length(file) != 1 || is.na(file) || !nzchar(file))
    vs_error(sprintf("file must be the path of the table, not %s", describe_value(file)), call)
  line_ending <- match_choice(line_ending, c("cr", "lf", "crlf"), "line_ending", call)
  groups <- cpp_names()$groups
  if (!is.character(columns) || length(columns) == 0 || anyNA(columns))
    vs_error(sprintf("columns must name column groups (%s), not %s", paste(groups, collapse = ", "),
                     describe_value(columns)), call)
  columns <- trimws(unlist(strsplit(columns, ",", fixed = TRUE)))
  unknown <- setdiff(columns, groups)
  if (length(unknown) > 0)
    vs_error(sprintf("columns: '%s' is not a column group; the groups are %s", unknown[1],
                     paste(groups, collapse = ", ")), call)

  n <- length(x$null)
  id <- table_ids(x, id, n, call)
  # The monthly quantities each group needs, as lists of 12 columns.
  needs <- list(classic = c("pet", "aet", "surplus"), deficit = c("pet", "aet"), soil = "soil", snow = "snow",
                precip = "precip")
  values <- list()
  for (q in unique(unlist(needs[columns]))) values[[q]] <- monthly_columns(x, q, n, call)
  error <- cpp_write_table(path.expand(file), id, values, x$null & !is.na(x$null), columns, line_ending)
  if (nzchar(error)) vs_error(error, call)
  invisible(file)
}

# The 12 columns of one monthly quantity of water_balance()'s result.
monthly_columns <- function(x, q, n, call) {
  if (is.data.frame(x)) {
    names <- sprintf("%s_%02d", q, 1:12)
    missing <- setdiff(names, names(x))
    if (length(missing) > 0)
      vs_error(sprintf("x has no column %s, which these columns need", missing[1]), call)
    cols <- lapply(names, function(nm) as.double(x[[nm]]))
  } else {
    m <- x[[q]]
    if (!is.matrix(m) || ncol(m) != 12 || nrow(m) != n)
      vs_error(sprintf("x has no %s matrix of 12 columns, which these columns need", q), call)
    cols <- lapply(1:12, function(k) as.double(m[, k]))
  }
  cols
}

table_ids <- function(x, id, n, call) {
  if (is.character(id) && length(id) == 1 && n != 1) {
    if (!(id %in% names(x))) vs_error(sprintf("id: x has no column '%s'", id), call)
    id <- x[[id]]
  }
  if (is.null(id)) {
    id <- x$id
    if (is.null(id) && is.data.frame(x)) {
      first <- names(x)[1]
      id <- if (!grepl("^pet_", first)) x[[first]] else row.names(x)
    }
    if (is.null(id)) id <- seq_len(n)
  }
  if (!is.atomic(id) || length(id) != n)
    vs_error(sprintf("id must give one identifier a record (%d), or name a column of x; not %s", n,
                     describe_value(id)), call)
  id <- as.character(id)
  id[is.na(id)] <- "NA"
  gsub("[\t\r\n]", " ", enc2utf8(id))
}
