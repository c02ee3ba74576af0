#' The climatic water balance of many records
#'
#' Computes, for every record (a site or a year), the monthly potential and
#' actual evapotranspiration, water surplus and deficit, and the soil water
#' and snowpack, by Thornthwaite's method as modified by Willmott et al.:
#' the numbers that \code{vadoset-cli} writes for the same records, to the
#' last bit.
#'
#' @param tmean Monthly mean temperatures, \eqn{^\circ}C: a numeric matrix with
#'   12 columns (January to December), one row a record; a data frame with
#'   12 month columns; or a numeric vector of 12 (one record). Or the records
#'   that \code{\link{read_vadoset}} read, which bring their precipitation,
#'   latitude, field capacity and identifiers along (then leave out
#'   \code{prec} and \code{lat}).
#' @param prec Monthly precipitation totals, mm, in the same form and with
#'   as many records as \code{tmean}.
#' @param lat Latitude in decimal degrees, north positive: one number for
#'   every record, or one a record. A record whose latitude is \code{NA} or
#'   outside -90 to 90 gets a null row.
#' @param field_capacity The soil's field capacity, mm. One number is the
#'   run's, as \code{vadoset-cli --field-capacity} takes it: its fraction is
#'   dropped, and it must be at least 1 (else an error). A vector gives each
#'   record its own: a record whose value is \code{NA} or below 1 gets a null
#'   row. With \code{read_vadoset()}'s records, each record's own as read
#'   unless given here.
#' @param curve The declining availability function, one letter from
#'   \code{"A"} to \code{"H"} (\code{vadoset-cli --function}).
#' @param carryover \code{FALSE}: every record is brought to its own steady
#'   state. \code{TRUE}: the rows are years in order, and the soil water and
#'   snow at the end of each December are the next year's start; the first
#'   year is spun up from none, as \code{vadoset-cli --carryover} does. One
#'   chain of all rows, or one chain per site with \code{site}.
#' @param keep_precipitation_fraction \code{FALSE} (the default): precipitation
#'   is used in whole millimetres, its fraction dropped toward zero, as
#'   \code{vadoset-cli} reads it. \code{TRUE}: used as given. With
#'   \code{read_vadoset()}'s records, the choice made when they were read.
#' @param threads Computing threads, R's own among them; \code{NULL}: one
#'   per core. The results are the same for every number.
#' @param site With \code{carryover = TRUE}: the site of each row (a vector
#'   as long as the records, or the name of a column of \code{tmean}). The
#'   rows of each site are its years in order; each site is a chain of its
#'   own, wherever its rows lie.
#' @param as \code{"data.frame"} (one row a record) or \code{"list"} (a
#'   matrix of 12 columns a monthly quantity).
#'
#' @details
#' \strong{Months and missing values.} A data frame's month columns are found
#' by name (\code{January} to \code{December}, \code{Jan} to \code{Dec}, in any
#' case, or names ending in the month's number: \code{tmean_01}, \code{m1},
#' \code{V12}); failing that, a data frame with exactly 12 numeric columns
#' has them in order. Its other columns are identifiers, carried to the
#' result. \code{NA}, \code{-9999} and \code{9999} are missing months, as in
#' the input files, and so is precipitation too large for a 32-bit whole
#' number. A record with a missing month gets a null row: \code{NA} in every
#' number, \code{null} \code{TRUE}, and its reason.
#'
#' \strong{Input checks.} Values that the model takes but that are most
#' likely a mistake give one warning a kind, as \code{vadoset-cli} does:
#' temperatures outside -80 to 60 \eqn{^\circ}C (swapped inputs, kelvin),
#' negative precipitation (a missing-value code such as -99.9), precipitation
#' above 5000 mm (swapped inputs, tenths of a millimetre), latitudes outside
#' -90 to 90, and every record null. The numbers are the same with or
#' without warnings.
#'
#' @return With \code{as = "data.frame"}, a data frame with one row a record:
#'   the identifier columns (a data frame's other columns, a matrix's row
#'   names as \code{id}, or \code{read_vadoset()}'s \code{id}); then
#'   \code{pet_01} to \code{pet_12}, \code{aet_*}, \code{surplus_*},
#'   \code{deficit_*} (PET - AET), \code{soil_*} and \code{snow_*} (soil water
#'   and snowpack water equivalent at the end of each month of the last pass
#'   over the year), \code{precip_*} (the precipitation the model used), all
#'   in mm; the annual sums \code{pet_total}, \code{aet_total},
#'   \code{surplus_total} and \code{deficit_total}, added January to December
#'   as \code{vadoset-cli}'s table adds them; \code{null} (\code{TRUE} for a
#'   record that could not be computed), \code{null_code} (a factor of the
#'   reasons' stable names, \code{\link{null_codes}}) and \code{null_reason}
#'   (the reason in words, \code{NA} for a computed record). With
#'   \code{as = "list"}, the same as a list: \code{id}, the monthly
#'   quantities as matrices of 12 columns (\code{pet}, \code{aet},
#'   \code{surplus}, \code{deficit}, \code{soil}, \code{snow}, \code{precip}),
#'   then the totals, \code{null}, \code{null_code} and \code{null_reason}.
#'
#' Errors (class \code{vadoset_error}) name the argument: a wrong type or
#' shape, a field capacity below 1 mm, an unknown curve.
#'
#' @references Willmott, C. J., Rowe, C. M. and Mintz, Y. (1985). Climatology
#'   of the terrestrial seasonal water cycle. \emph{Journal of Climatology}
#'   5, 589-606.
#' @seealso \code{\link{read_vadoset}}, \code{\link{write_vadoset_table}},
#'   \code{\link{water_balance_rast}}; \code{docs/model.md} in the repository
#'   describes the model in full.
#' @examples
#' tfile <- system.file("extdata", "allsites_temp.txt", package = "vadoset")
#' pfile <- system.file("extdata", "allsites_prec.txt", package = "vadoset")
#' stations <- read_vadoset(tfile, pfile)
#' wb <- water_balance(stations)
#' wb[1:3, c("id", "pet_total", "aet_total", "deficit_total")]
#' wb[wb$null, c("id", "null_reason")]
#'
#' # The same from matrices, with another availability function.
#' wb_d <- water_balance(stations$tmean, stations$prec, stations$lat, curve = "D")
#' all.equal(wb_d$pet_total, wb$pet_total)
#'
#' # Thirty years of one station, the soil water carried from year to year.
#' series <- read_vadoset(system.file("extdata", "series_temp.txt", package = "vadoset"),
#'                        system.file("extdata", "series_prec.txt", package = "vadoset"))
#' wb_series <- water_balance(series, carryover = TRUE)
#' head(wb_series[, c("id", "aet_total", "surplus_total", "soil_12")])
#' @export
water_balance <- function(tmean, prec, lat, field_capacity = 100, curve = "G", carryover = FALSE,
                          keep_precipitation_fraction = FALSE, threads = NULL, site = NULL,
                          as = c("data.frame", "list")) {
  call <- sys.call()
  keep_given <- !missing(keep_precipitation_fraction)
  fc_given <- !missing(field_capacity)
  if (inherits(tmean, "vadoset_records")) {
    records <- tmean
    if (!missing(prec) || !missing(lat))
      vs_error(paste("prec and lat come with read_vadoset()'s records: give them only with",
                     "matrices or data frames"), call)
    read_keep <- isTRUE(attr(records, "keep_precipitation_fraction"))
    if (keep_given && !identical(keep_precipitation_fraction, read_keep))
      vs_error(sprintf(paste("keep_precipitation_fraction: these records were read with",
                             "keep_precipitation_fraction = %s; read them again with read_vadoset(...,",
                             "keep_precipitation_fraction = %s)"), read_keep, !read_keep), call)
    keep_precipitation_fraction <- read_keep
    if (!fc_given) field_capacity <- records$field_capacity
    t <- list(values = unclass(records$tmean), n = nrow(records), ids = list(id = records$id),
              row_names = NULL)
    p <- list(values = unclass(records$prec), n = nrow(records))
    lat <- records$lat
    if (is.character(site) && length(site) == 1 && site %in% names(records)) site <- records[[site]]
  } else {
    if (missing(prec)) vs_error("prec is missing: give the monthly precipitation totals", call)
    if (missing(lat)) vs_error("lat is missing: give the latitude of every record", call)
    if (is.character(site) && length(site) == 1 && is.data.frame(tmean) && site %in% names(tmean))
      site <- tmean[[site]]
    t <- month_input(tmean, "tmean", call)
    p <- month_input(prec, "prec", call)
  }
  n <- t$n
  if (p$n != n)
    vs_error(sprintf("prec must hold as many records as tmean (%d), not %d", n, p$n), call)
  lat <- per_record(lat, "lat", n, call)
  if (length(field_capacity) == 1 && (fc_given || !inherits(tmean, "vadoset_records")))
    field_capacity <- check_field_capacity(field_capacity, call)
  else
    field_capacity <- per_record(field_capacity, "field_capacity", n, call)
  curve_index <- check_curve(curve, call)
  check_flag(carryover, "carryover", call)
  check_flag(keep_precipitation_fraction, "keep_precipitation_fraction", call)
  threads <- check_threads(threads, "threads", call)
  as <- match_choice(as, c("data.frame", "list"), "as", call)
  chain <- NULL
  if (!is.null(site)) {
    if (!carryover)
      vs_error("site gives the chains of years for carry-over: use it with carryover = TRUE", call)
    if (!is.atomic(site) || length(site) != n)
      vs_error(sprintf("site must give the site of every record (%d values) or name a column of tmean, not %s",
                       n, describe_value(site)), call)
    chain <- match(site, unique(site)) - 1L
  }

  ids <- t$ids
  what <- c("pet", "aet", "surplus", "deficit", "soil", "snow", "precip", "totals")
  shape <- if (as == "list") "matrix" else "columns"
  job <- cpp_start(t$values, p$values, lat, field_capacity, curve_index, carryover, keep_precipitation_fraction,
                   chain, threads, what, shape, n, 0)
  on.exit(cpp_cancel(job))
  # The input checks look at the inputs while the threads compute.
  checks <- check_inputs(new_checks(), t$values, p$values, lat, keep_precipitation_fraction, n,
                         record_place(ids))
  out <- cpp_finish(job)
  for (w in input_warnings(check_results(checks, out$reason))) vs_warning(w, call)

  reason <- out$reason
  code <- as.integer(reason)
  code[code == 0L] <- NA_integer_
  tail <- list(null = reason != as.raw(0),
               null_code = structure(code, levels = null_codes(), class = "factor"),
               null_reason = cpp_null_reasons(reason, out$month))
  out$reason <- NULL
  out$month <- NULL
  if (as == "list") return(c(if (length(ids) > 0) list(id = ids_vector(ids, n)), out, tail))
  columns <- c(ids, out, tail)
  row_names <- if (is.null(t$row_names)) .set_row_names(n) else t$row_names
  structure(columns, class = "data.frame", row.names = row_names)
}

#' The stable names of the null reasons
#'
#' Why a record's row is null, as short names that do not change: element
#' \code{k} is the name of \code{null_code} \code{k} (the factor levels of
#' \code{water_balance()}'s \code{null_code}, the values of
#' \code{water_balance_rast()}'s \code{null_code} layer).
#'
#' @return A character vector: \code{"latitude_invalid"},
#'   \code{"precipitation_missing"}, \code{"temperature_missing"},
#'   \code{"field_capacity_invalid"}, \code{"perennial_snow"},
#'   \code{"no_steady_state"}, \code{"never_settles"},
#'   \code{"temperature_out_of_range"}.
#' @examples
#' null_codes()
#' @export
null_codes <- function() {
  cpp_null_codes()
}

# The months of one input: list(values = a double matrix n x 12, or a list of
# 12 double vectors; n; ids = a list of identifier columns; row_names).
month_input <- function(x, name, call) {
  if (is.data.frame(x)) {
    cols <- month_columns(x, name, call)
    values <- lapply(cols, function(j) {
      v <- x[[j]]
      if (is.numeric(v) || (is.logical(v) && all(is.na(v)))) return(as.double(v))
      vs_error(sprintf("%s's column '%s' must hold numbers, not %s", name, names(x)[j], class(v)[1]), call)
    })
    rn <- attr(x, "row.names")
    ids <- as.list(x)[-cols]
    return(list(values = values, n = nrow(x), ids = ids,
                row_names = if (is.character(rn)) rn else NULL))
  }
  ok <- is.numeric(x) || (is.logical(x) && all(is.na(x)))
  if (ok && is.null(dim(x)) && length(x) == 12) x <- matrix(x, nrow = 1)
  if (!ok || !is.matrix(x) || ncol(x) != 12)
    vs_error(sprintf(paste("%s must be a numeric matrix with 12 columns (January to December), a data",
                           "frame with 12 month columns or a numeric vector of 12; not %s"),
                     name, describe_value(x)), call)
  storage.mode(x) <- "double"
  rn <- rownames(x)
  list(values = x, n = nrow(x), ids = if (is.null(rn)) list() else list(id = rn), row_names = NULL)
}

# The columns of a data frame that hold January to December.
month_columns <- function(x, name, call) {
  nm <- names(x)
  key <- tolower(trimws(nm))
  for (set in list(tolower(month.name), tolower(month.abb))) {
    j <- match(set, key)
    if (!anyNA(j)) return(j)
  }
  ends <- grepl("(^|[^0-9])[0-9]{1,2}$", nm)
  number <- rep(NA_integer_, length(nm))
  number[ends] <- as.integer(sub("^.*?([0-9]{1,2})$", "\\1", nm[ends], perl = TRUE))
  j <- vapply(1:12, function(m) {
    k <- which(number == m)
    if (length(k) == 1) k else NA_integer_
  }, integer(1))
  if (!anyNA(j)) return(j)
  numeric <- which(vapply(x, function(v) is.numeric(v) || (is.logical(v) && all(is.na(v))), logical(1)))
  if (length(numeric) == 12) return(numeric)
  vs_error(sprintf(paste("%s must have 12 month columns, named January to December, Jan to Dec or with",
                         "the month's number at the end (tmean_01, m1), or exactly 12 numeric columns;",
                         "its columns are %s"),
                   name, paste0("'", utils::head(nm, 20), "'", collapse = ", ")), call)
}

# A per-record argument: one number, or one a record.
per_record <- function(x, name, n, call) {
  ok <- (is.numeric(x) || (is.logical(x) && all(is.na(x)))) && is.null(dim(x)) && length(x) %in% c(1, n)
  if (!ok)
    vs_error(sprintf("%s must be one number, or one a record (%d), not %s", name, n, describe_value(x)), call)
  as.double(x)
}

match_choice <- function(x, choices, name, call) {
  if (identical(x, choices)) return(choices[1])
  if (!is.character(x) || length(x) != 1 || !(x %in% choices))
    vs_error(sprintf("%s must be one of %s, not %s", name, paste0('"', choices, '"', collapse = ", "),
                     describe_value(x)), call)
  x
}

# The identifier of each record as text, for the table and messages.
ids_vector <- function(ids, n) {
  if (length(ids) == 0) return(NULL)
  id <- if (!is.null(ids$id)) ids$id else ids[[1]]
  if (is.factor(id)) id <- as.character(id)
  id
}

# Where a record is, for the input checks' messages: "record 5 ('Cairo'),
# month 3: -99.9".
record_place <- function(ids) {
  id <- ids_vector(ids, 0)
  function(row, column, value) {
    who <- if (is.null(id)) "" else sprintf(" ('%s')", substr(as.character(id[row]), 1, 40))
    month <- if (is.na(column)) "" else sprintf(", month %d", column)
    sprintf("record %d%s%s: %s", row, who, month, value)
  }
}
