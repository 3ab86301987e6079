/*
 * Replication objects of a store database.
 *
 * Run it once on the store's database, as its owner or SYSDBA, with the
 * database's own character set on the connection, for example:
 *
 *     isql-fb -ch ISO8859_1 -i loja.sql localhost/3050:/dados/LOJA.FDB
 *
 * What it creates:
 *   RPL_CONFIGURACOES     the replication settings (one row per store)
 *   LOG_REPLICACAO        the change log the agent sends to the central server
 *   GEN_LOG_REPLICACAO    the generator of the log positions (ORDEM)
 *   RPL_RESERVAS          which open transactions may still fill positions
 *   PROC_REGISTRA_ALTERACAO  writes one log row; every logging trigger calls it
 *   PROC_RETORNA_INDICE   the bounds of the next block the agent sends
 *   example store tables  PRODUTOS, PRECOS, VENDAS, ITENSVENDA (replicated)
 *                         and MOVIMENTOCAIXA (not replicated: it has no key)
 *   the grants the replication account ONDARIS needs.
 *
 * To replicate one of your own tables, copy the trigger of a table with the
 * same number of key columns (PRODUTOS for one, PRECOS for two) and its
 * grants at the end of this file. Keys should be integers or text: a key
 * travels as text and a receiving store reads dates and decimals back with
 * its own regional settings.
 *
 * The account is not created here. As SYSDBA:
 *     CREATE USER ONDARIS PASSWORD 'quenby';
 * (the agent also creates it itself the first time it cannot log in).
 */

SET SQL DIALECT 3;

/* ------------------------------------------------------------------------
 * Settings. The agent uses the row with the lowest CODIGO and ignores the
 * others. The store fills it in; for example:
 *
 *     INSERT INTO RPL_CONFIGURACOES
 *         (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)
 *     VALUES (1, 12, 'https://central.example.com/replicacao/', 1, 0);
 *     COMMIT;
 *
 * ULTIMORECEBIMENTO is the central position received so far; the agent
 * advances it, start it at 0.
 * ---------------------------------------------------------------------- */
CREATE TABLE RPL_CONFIGURACOES (
    CODIGO            INTEGER NOT NULL,
    CODIGOLOJA        INTEGER NOT NULL,
    LINKCENTRAL       VARCHAR(255),
    NIVELREPLICACAO   INTEGER,
    ULTIMORECEBIMENTO BIGINT DEFAULT 0 NOT NULL,
    CONSTRAINT PK_RPL_CONFIGURACOES PRIMARY KEY (CODIGO)
);

/* ------------------------------------------------------------------------
 * The change log: one row per change of a replicated row.
 *
 *   ORDEM              position in the log, from GEN_LOG_REPLICACAO
 *   CODIGOLOJAORIGEM   this store's code, from the settings row
 *   CODIGOLOJADESTINO  left empty: the central server decides where a
 *                      change goes
 *   TIPO               'U' insert or update, 'D' delete (the letter travels as
 *                      "acao" unchanged)
 *   TABELA             the table's name as the catalogue holds it
 *   ATUALVALORCHAVE1   the row's first key column (first in column order),
 *                      as text
 *   ATUALVALORCHAVE2   the second key column, as text (NULL for one-column
 *                      keys)
 *   NOVOVALORCHAVE1    on the 'D' row of an update that moved the row to
 *                      another key: the new first key value; otherwise NULL
 *   OCORRENCIA_LOCAL   when the change was made
 *   ID_TRANSACAO       the store transaction that made it; the receiving
 *                      stores apply the changes of one transaction together
 *
 * For inserts and updates the agent sends the row's content as it is when
 * it sends, found by joining the key columns to ATUALVALORCHAVE1/2; for
 * deletes it sends the key values of the log row.
 *
 * Rows are written through PROC_REGISTRA_ALTERACAO or a plain INSERT: the
 * trigger LOG_REPLICACAO_BI always assigns ORDEM and ID_TRANSACAO itself.
 * ---------------------------------------------------------------------- */
CREATE TABLE LOG_REPLICACAO (
    ORDEM             BIGINT NOT NULL,
    CODIGOLOJAORIGEM  INTEGER,
    CODIGOLOJADESTINO INTEGER,
    TIPO              CHAR(1) NOT NULL,
    TABELA            VARCHAR(31) NOT NULL,
    ATUALVALORCHAVE1  VARCHAR(255),
    ATUALVALORCHAVE2  VARCHAR(255),
    NOVOVALORCHAVE1   VARCHAR(255),
    OCORRENCIA_LOCAL  TIMESTAMP,
    ID_TRANSACAO      BIGINT,
    CONSTRAINT PK_LOG_REPLICACAO PRIMARY KEY (ORDEM),
    CONSTRAINT CK_LOG_REPLICACAO_TIPO CHECK (TIPO IN ('U', 'D'))
);

/* The agent asks for MAX(ORDEM) every cycle: a descending index answers it
   without reading the log. */
CREATE DESCENDING INDEX IX_LOG_REPLICACAO_ORDEM_DESC ON LOG_REPLICACAO (ORDEM);

CREATE SEQUENCE GEN_LOG_REPLICACAO;

/* ------------------------------------------------------------------------
 * Why positions need reservations.
 *
 * ORDEM is taken from the generator inside the transaction that makes the
 * change, and generator values are handed out at once, outside any
 * transaction. So position 8 can be committed while position 7 still
 * belongs to a transaction that is open; if the agent sent a block running
 * past 7, the server would take 8 as received and 7 would never be sent.
 * A position can also stay empty for good, when its transaction rolled
 * back or its statement failed; the log must not stop there forever.
 *
 * An empty position alone does not tell "rolled back" from "still open".
 * So, before its first logged change, every writing transaction records in
 * RPL_RESERVAS, in an autonomous (at once committed) transaction, its own
 * id and ORDEMBASE, the generator's value at that moment: all positions it
 * takes afterwards lie above ORDEMBASE.
 *
 * PROC_RETORNA_INDICE then reads:
 *   G, the generator's current value: every position up to G has been
 *      handed out, by a transaction whose reservation was already committed;
 *   A, the database's oldest active transaction (MON$DATABASE, readable by
 *      every user): every transaction with an id below A has ended,
 *      committed or rolled back; a value read earlier in the same
 *      transaction is only lower, hence still safe;
 *   B, the lowest ORDEMBASE among reservations of transaction A or newer
 *      (those that may still be open), reading them after G;
 * and reads the log itself after A. No position up to min(G, B) can belong
 * to a transaction that is still open: its owner's reservation is visible
 * (read after G) and its ORDEMBASE lies below the position, hence below B,
 * the lowest of those that may be open; so the owner had ended before A
 * was read. When it
 * committed, its log row is visible to a read-committed reader; when it
 * did not, the position stays empty for good. So a block never runs past
 * min(G, B), and empty positions below it are passed over. An empty
 * position is passed by the first call after every transaction that was
 * open when it was taken, its own included, has ended.
 *
 * Reservations of ended transactions (below A) serve no purpose any more;
 * the procedure deletes them, so the table holds about one row per open
 * writing transaction.
 *
 * What it costs, measured on Firebird 3.0 on a small test machine
 * (loopback, forced writes on, best of several interleaved runs):
 *   - per logged change, the trigger, the log row and the generator:
 *     about 20 microseconds (20,000 inserts in one transaction: 0.23 s
 *     without logging, 0.65 s with it);
 *   - per writing transaction, the reservation (one autonomous
 *     transaction): about 0.9 ms; a one-row transaction took 2.7 ms
 *     unlogged, 3.6 ms logged without the reservation, 4.5 ms with it;
 *   - PROC_RETORNA_INDICE for a block of 1000 in a 60,000-row log: about
 *     2 ms per call.
 * ---------------------------------------------------------------------- */
CREATE TABLE RPL_RESERVAS (
    ID_TRANSACAO BIGINT NOT NULL,
    ORDEMBASE    BIGINT NOT NULL,
    CONSTRAINT PK_RPL_RESERVAS PRIMARY KEY (ID_TRANSACAO)
);

SET TERM ^ ;

/* Assigns the position and the transaction of every log row, reserving the
   transaction's positions first (see the comment of RPL_RESERVAS). The
   settings row is read once per transaction, with the reservation. */
CREATE TRIGGER LOG_REPLICACAO_BI FOR LOG_REPLICACAO
ACTIVE BEFORE INSERT POSITION 0
AS
DECLARE VARIABLE TRANSACAO BIGINT;
DECLARE VARIABLE LOJA INTEGER;
DECLARE VARIABLE NADA INTEGER;
BEGIN
    TRANSACAO = CURRENT_TRANSACTION;
    IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVADA') IS NULL) THEN
    BEGIN
        /* Committed at the end of the block, before this transaction takes
           its first position. Inside it CURRENT_TRANSACTION is the
           autonomous one, hence the variable. */
        IN AUTONOMOUS TRANSACTION DO
            IF (NOT EXISTS (SELECT 1 FROM RPL_RESERVAS
                            WHERE ID_TRANSACAO = :TRANSACAO)) THEN
                INSERT INTO RPL_RESERVAS (ID_TRANSACAO, ORDEMBASE)
                VALUES (:TRANSACAO, GEN_ID(GEN_LOG_REPLICACAO, 0));

        SELECT FIRST 1 CODIGOLOJA FROM RPL_CONFIGURACOES
        ORDER BY CODIGO
        INTO :LOJA;
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_LOJA', LOJA);
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVADA', 1);
    END

    NEW.ORDEM = GEN_ID(GEN_LOG_REPLICACAO, 1);
    NEW.ID_TRANSACAO = TRANSACAO;
    IF (NEW.CODIGOLOJAORIGEM IS NULL) THEN
        NEW.CODIGOLOJAORIGEM = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_LOJA');
    IF (NEW.OCORRENCIA_LOCAL IS NULL) THEN
        NEW.OCORRENCIA_LOCAL = CURRENT_TIMESTAMP;
END^

/* Writes one log row. Changes made by the replication account are the ones
   the agent received from the central server: logging them would send them
   back, so they are skipped here. */
CREATE PROCEDURE PROC_REGISTRA_ALTERACAO (
    TABELA     VARCHAR(31),
    TIPO       CHAR(1),
    CHAVE1     VARCHAR(255),
    CHAVE2     VARCHAR(255),
    NOVACHAVE1 VARCHAR(255))
AS
BEGIN
    IF (CURRENT_USER = 'ONDARIS') THEN
        EXIT;
    INSERT INTO LOG_REPLICACAO
        (TIPO, TABELA, ATUALVALORCHAVE1, ATUALVALORCHAVE2, NOVOVALORCHAVE1)
    VALUES (:TIPO, :TABELA, :CHAVE1, :CHAVE2, :NOVACHAVE1);
END^

/* The next block to send after ORDEM: at most QTDCOMANDOS log rows, from
   ORDEMINICIAL to ORDEMFINAL inclusive. When nothing can be sent yet the
   block is empty: ORDEMINICIAL = ORDEM + 1 and ORDEMFINAL = ORDEM.
   ULTIMAORDEM is the highest position in the log. CODIGOLOJA is not used;
   a NULL ORDEM counts as 0, a NULL QTDCOMANDOS as 1000, and a QTDCOMANDOS
   below 1 as 1, so that every block with rows moves the log on.

   The block never runs past a position that an open transaction may still
   fill (see the comment of RPL_RESERVAS). Passing over empty positions
   relies on read-committed visibility; called in a snapshot transaction,
   where rows committed after its start are invisible, the block ends at
   the first empty position instead. */
CREATE PROCEDURE PROC_RETORNA_INDICE (
    ORDEM       BIGINT,
    CODIGOLOJA  INTEGER,
    QTDCOMANDOS INTEGER)
RETURNS (
    ORDEMINICIAL BIGINT,
    ORDEMFINAL   BIGINT,
    ULTIMAORDEM  BIGINT)
AS
DECLARE VARIABLE GERADA BIGINT;
DECLARE VARIABLE ATIVA BIGINT;
DECLARE VARIABLE BASE BIGINT;
DECLARE VARIABLE LIMITE BIGINT;
DECLARE VARIABLE POSICAO BIGINT;
DECLARE VARIABLE LINHAS INTEGER;
DECLARE VARIABLE CONTIGUO BOOLEAN;
BEGIN
    ORDEM = COALESCE(ORDEM, 0);
    QTDCOMANDOS = COALESCE(QTDCOMANDOS, 1000);
    IF (QTDCOMANDOS < 1) THEN
        QTDCOMANDOS = 1;
    ORDEMINICIAL = ORDEM + 1;
    ORDEMFINAL = ORDEM;

    /* G before the reservations, A before the log: see RPL_RESERVAS. */
    GERADA = GEN_ID(GEN_LOG_REPLICACAO, 0);
    SELECT MON$OLDEST_ACTIVE FROM MON$DATABASE INTO :ATIVA;
    SELECT MIN(ORDEMBASE) FROM RPL_RESERVAS
    WHERE ID_TRANSACAO >= :ATIVA
    INTO :BASE;

    LIMITE = GERADA;
    IF (BASE < LIMITE) THEN
        LIMITE = BASE;
    CONTIGUO = (RDB$GET_CONTEXT('SYSTEM', 'ISOLATION_LEVEL') <> 'READ COMMITTED');

    LINHAS = 0;
    FOR SELECT L.ORDEM FROM LOG_REPLICACAO L
        WHERE L.ORDEM > :ORDEM AND L.ORDEM <= :LIMITE
        ORDER BY L.ORDEM
        INTO :POSICAO
    DO
    BEGIN
        IF (CONTIGUO AND POSICAO <> ORDEMFINAL + 1) THEN
            LEAVE;
        ORDEMFINAL = POSICAO;
        LINHAS = LINHAS + 1;
        IF (LINHAS >= QTDCOMANDOS) THEN
            LEAVE;
    END

    SELECT COALESCE(MAX(L.ORDEM), 0) FROM LOG_REPLICACAO L INTO :ULTIMAORDEM;

    /* Reservations of ended transactions are no longer needed. Pruning is
       housekeeping: in a read-only transaction, or when another caller is
       pruning the same rows, it waits for a later call. */
    BEGIN
        DELETE FROM RPL_RESERVAS WHERE ID_TRANSACAO < :ATIVA;
        WHEN GDSCODE read_only_trans, GDSCODE lock_conflict,
             GDSCODE update_conflict, GDSCODE deadlock DO
        BEGIN
        END
    END

    SUSPEND;
END^

SET TERM ; ^

/* ------------------------------------------------------------------------
 * Example store tables. Together their columns cover every column type the
 * agent distinguishes when it applies received values.
 * ---------------------------------------------------------------------- */

/* Products: a one-column integer key. */
CREATE TABLE PRODUTOS (
    CODIGO            INTEGER NOT NULL,
    DESCRICAO         VARCHAR(60) NOT NULL,
    UNIDADE           CHAR(3) DEFAULT 'UN',
    ESTOQUEMINIMO     SMALLINT,
    PESOLIQUIDO       NUMERIC(9,3),        /* 32-bit storage, scale 3 */
    FATORCONVERSAO    NUMERIC(9,6),        /* 32-bit storage, scale 6 */
    PRECOREFERENCIA   DOUBLE PRECISION,
    ATIVO             BOOLEAN DEFAULT TRUE,
    CADASTRO          DATE,
    ULTIMAALTERACAO   TIMESTAMP,
    OBSERVACOES       BLOB SUB_TYPE TEXT,
    FOTO              BLOB SUB_TYPE BINARY,
    DESCRICAOETIQUETA CHAR(20) CHARACTER SET UTF8,
    DESCRICAOCOMPLETA COMPUTED BY (DESCRICAO || ' (' || TRIM(UNIDADE) || ')'),
    CONSTRAINT PK_PRODUTOS PRIMARY KEY (CODIGO)
);

/* Prices per store. The key is declared (CODIGOPRODUTO, CODIGOLOJA) while
   CODIGOLOJA stands first in the table: the log follows column order, so
   ATUALVALORCHAVE1 holds CODIGOLOJA. */
CREATE TABLE PRECOS (
    CODIGOLOJA        INTEGER NOT NULL,
    CODIGOPRODUTO     INTEGER NOT NULL,
    PRECOVENDA        NUMERIC(15,4),       /* 64-bit storage, scale 4 */
    PRECOCUSTO        NUMERIC(18,2),       /* 64-bit, 16 integer digits */
    MARGEM            NUMERIC(4,2),        /* 16-bit storage, scale 2 */
    COMISSAO          DECIMAL(18,6),       /* 64-bit storage, scale 6 */
    VIGENCIA          DATE,
    CONSTRAINT PK_PRECOS PRIMARY KEY (CODIGOPRODUTO, CODIGOLOJA)
);

/* Sales: a BIGINT key, times and raw-byte text. */
CREATE TABLE VENDAS (
    NUMERO            BIGINT NOT NULL,
    CODIGOLOJA        INTEGER NOT NULL,
    DATAVENDA         DATE NOT NULL,
    HORAVENDA         TIME,
    TOTAL             NUMERIC(15,2),       /* 64-bit storage, scale 2 */
    CPFCLIENTE        VARCHAR(14),
    ASSINATURA        CHAR(16) CHARACTER SET OCTETS,
    CHAVEACESSO       VARCHAR(44) CHARACTER SET OCTETS,
    CONSTRAINT PK_VENDAS PRIMARY KEY (NUMERO)
);

/* Items of a sale: a two-column key in column order. */
CREATE TABLE ITENSVENDA (
    NUMEROVENDA       BIGINT NOT NULL,
    ITEM              SMALLINT NOT NULL,
    CODIGOPRODUTO     INTEGER NOT NULL,
    QUANTIDADE        DOUBLE PRECISION,
    DESCONTO          FLOAT,
    PRECOUNITARIO     NUMERIC(15,4),
    VALORTOTAL        COMPUTED BY (CAST(QUANTIDADE * PRECOUNITARIO AS NUMERIC(15,2))),
    CONSTRAINT PK_ITENSVENDA PRIMARY KEY (NUMEROVENDA, ITEM)
);

/* Cash movements: no primary key. A change of such a row cannot be found
   again by the agent, so the table is not logged. */
CREATE TABLE MOVIMENTOCAIXA (
    DATAHORA          TIMESTAMP NOT NULL,
    HISTORICO         VARCHAR(60),
    VALOR             NUMERIC(15,2)
);

/* ------------------------------------------------------------------------
 * Logging triggers. An update that changes the key is logged as a delete
 * of the old key (with the new first key value in NOVOVALORCHAVE1)
 * followed by an update of the new key: the agent finds the row's current
 * content by its new key, and a receiving store, which matches rows by key,
 * removes the row under its old key instead of keeping it beside the moved
 * one. Both rows carry the same transaction, so they are applied together.
 * ---------------------------------------------------------------------- */
SET TERM ^ ;

CREATE TRIGGER PRODUTOS_RPL FOR PRODUTOS
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'U', NEW.CODIGO, NULL, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'D', OLD.CODIGO, NULL, NULL);
    ELSE
    BEGIN
        IF (NEW.CODIGO IS DISTINCT FROM OLD.CODIGO) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'D', OLD.CODIGO, NULL, NEW.CODIGO);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'U', NEW.CODIGO, NULL, NULL);
    END
END^

CREATE TRIGGER PRECOS_RPL FOR PRECOS
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    /* First key column in column order: CODIGOLOJA. */
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'U',
            NEW.CODIGOLOJA, NEW.CODIGOPRODUTO, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'D',
            OLD.CODIGOLOJA, OLD.CODIGOPRODUTO, NULL);
    ELSE
    BEGIN
        IF (NEW.CODIGOLOJA IS DISTINCT FROM OLD.CODIGOLOJA
            OR NEW.CODIGOPRODUTO IS DISTINCT FROM OLD.CODIGOPRODUTO) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'D',
                OLD.CODIGOLOJA, OLD.CODIGOPRODUTO, NEW.CODIGOLOJA);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'U',
            NEW.CODIGOLOJA, NEW.CODIGOPRODUTO, NULL);
    END
END^

CREATE TRIGGER VENDAS_RPL FOR VENDAS
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'U', NEW.NUMERO, NULL, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'D', OLD.NUMERO, NULL, NULL);
    ELSE
    BEGIN
        IF (NEW.NUMERO IS DISTINCT FROM OLD.NUMERO) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'D', OLD.NUMERO, NULL, NEW.NUMERO);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'U', NEW.NUMERO, NULL, NULL);
    END
END^

CREATE TRIGGER ITENSVENDA_RPL FOR ITENSVENDA
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'U',
            NEW.NUMEROVENDA, NEW.ITEM, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'D',
            OLD.NUMEROVENDA, OLD.ITEM, NULL);
    ELSE
    BEGIN
        IF (NEW.NUMEROVENDA IS DISTINCT FROM OLD.NUMEROVENDA
            OR NEW.ITEM IS DISTINCT FROM OLD.ITEM) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'D',
                OLD.NUMEROVENDA, OLD.ITEM, NEW.NUMEROVENDA);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'U',
            NEW.NUMEROVENDA, NEW.ITEM, NULL);
    END
END^

SET TERM ; ^

/* ------------------------------------------------------------------------
 * Rights of the replication objects themselves, so that every store user
 * who may change a replicated table gets the change logged, and the
 * replication account can run the procedure, without rights of their own
 * on the log, the reservations or the generator.
 * ---------------------------------------------------------------------- */
GRANT SELECT ON RPL_CONFIGURACOES TO TRIGGER LOG_REPLICACAO_BI;
GRANT SELECT, INSERT ON RPL_RESERVAS TO TRIGGER LOG_REPLICACAO_BI;
GRANT USAGE ON SEQUENCE GEN_LOG_REPLICACAO TO TRIGGER LOG_REPLICACAO_BI;

GRANT INSERT ON LOG_REPLICACAO TO PROCEDURE PROC_REGISTRA_ALTERACAO;

GRANT SELECT ON LOG_REPLICACAO TO PROCEDURE PROC_RETORNA_INDICE;
GRANT SELECT, DELETE ON RPL_RESERVAS TO PROCEDURE PROC_RETORNA_INDICE;
GRANT USAGE ON SEQUENCE GEN_LOG_REPLICACAO TO PROCEDURE PROC_RETORNA_INDICE;

GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER PRODUTOS_RPL;
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER PRECOS_RPL;
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER VENDAS_RPL;
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER ITENSVENDA_RPL;

/* ------------------------------------------------------------------------
 * Rights of the replication account ONDARIS. It reads the settings and
 * writes back only the received position; it reads the log (the system
 * catalogue is readable by every user); it runs the block procedure; and
 * it reads and writes the replicated tables.
 * ---------------------------------------------------------------------- */
GRANT SELECT, UPDATE (ULTIMORECEBIMENTO) ON RPL_CONFIGURACOES TO USER ONDARIS;
GRANT SELECT ON LOG_REPLICACAO TO USER ONDARIS;
GRANT EXECUTE ON PROCEDURE PROC_RETORNA_INDICE TO USER ONDARIS;

GRANT SELECT, INSERT, UPDATE, DELETE ON PRODUTOS TO USER ONDARIS;
GRANT SELECT, INSERT, UPDATE, DELETE ON PRECOS TO USER ONDARIS;
GRANT SELECT, INSERT, UPDATE, DELETE ON VENDAS TO USER ONDARIS;
GRANT SELECT, INSERT, UPDATE, DELETE ON ITENSVENDA TO USER ONDARIS;

COMMIT;
