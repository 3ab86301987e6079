/*
 * The replication objects of a store database: everything the agent needs
 * there, and nothing else. No store table is created or changed; the
 * store's own tables get their logging triggers from
 * "ondarisd --instalar-gatilhos" (sql/exemplos.sql holds the example
 * tables of the demo and the tests, never for a store).
 *
 * Run it on the store's database as SYSDBA or the database's owner, with
 * the database's own character set on the connection:
 *
 *     isql-fb -ch ISO8859_1 -i replicacao.sql localhost/3050:/dados/LOJA.FDB
 *
 * What it creates:
 *   RPL_CONFIGURACOES     the replication settings (one row per store)
 *   LOG_REPLICACAO        the change log the agent sends to the central server
 *   GEN_LOG_REPLICACAO    the generator of the log positions (ORDEM)
 *   RPL_RESERVAS          which open transactions may still fill positions,
 *                         and who they are
 *   RPL_TRANSACAO_COMMIT, RPL_TRANSACAO_ROLLBACK
 *                         give a transaction's reservation up as it ends
 *   PROC_REGISTRA_ALTERACAO  writes one log row; every logging trigger calls it
 *   PROC_RETORNA_INDICE   the bounds of the next block the agent sends
 *   RPL_POSTOS_DE_LADO    the commands a technician set aside because they
 *                         could not be sent or applied, whole, with why
 *   RPL_POSSE             one row: which agent synchronises this database
 *                         now, until when, and what its panels showed
 *   PROC_VERSAO_REPLICACAO   the version of these objects (4), which the
 *                         agent checks
 *   the grants the replication account ONDARIS needs on them.
 *
 * On a database in use:
 *   - it stops at the first error (SET BAIL ON);
 *   - before it creates anything, it looks at every object of these names
 *     that is already there and refuses, naming it, when one is not ours:
 *     a LOG_REPLICACAO, RPL_CONFIGURACOES, RPL_RESERVAS or
 *     RPL_POSTOS_DE_LADO or RPL_POSSE with other columns, a GEN_LOG_REPLICACAO without our log (or behind it), a
 *     procedure with other parameters, a newer version of our objects;
 *   - tables and the generator are created only where they are missing,
 *     procedures and triggers are created or replaced, grants given again:
 *     running it twice changes nothing;
 *   - a database with the first version of these objects (no
 *     PROC_VERSAO_REPLICACAO) is upgraded in place: the log, its positions,
 *     the settings and the reservations stay as they are; the reservations
 *     gain their owner's columns and lose their primary key, and a log that
 *     still took 'I' for inserts takes 'U' for them, as the agent sends;
 *   - a database with the second version gains RPL_POSTOS_DE_LADO and its
 *     rights, one with the third RPL_POSSE and its rights, and nothing
 *     else changes.
 *   Stop the agent while it runs; the store's programs may stay connected.
 *
 * The account is not created here. As SYSDBA:
 *     CREATE USER ONDARIS PASSWORD 'quenby';
 * (the agent also creates it itself the first time it cannot log in).
 */

SET SQL DIALECT 3;
SET BAIL ON;

SET TERM ^ ;

/* ------------------------------------------------------------------------
 * Before anything is created: every object of our names that is already
 * there must be ours. Each problem is printed as a RECUSA line; then the
 * script stops without having created anything.
 * ---------------------------------------------------------------------- */
SET LIST ON^
EXECUTE BLOCK RETURNS (RECUSA VARCHAR(1000)) AS
    DECLARE VARIABLE NADA INTEGER;
    DECLARE VARIABLE VERSAO INTEGER;
    DECLARE VARIABLE GERADA BIGINT;
    DECLARE VARIABLE MAIOR BIGINT;
    DECLARE VARIABLE ASSINATURA VARCHAR(2000);
    DECLARE VARIABLE V1 VARCHAR(2000);
    DECLARE VARIABLE V2 VARCHAR(2000);
    DECLARE VARIABLE TEM_LOG BOOLEAN;
    DECLARE VARIABLE LOG_NOSSO BOOLEAN;
    DECLARE VARIABLE OUTRAS INTEGER;
    DECLARE VARIABLE TEM_GERADOR BOOLEAN;

    /* The columns of a table, in column order: NAME:type[:length],... */
    DECLARE FUNCTION COLUNAS(TABELA VARCHAR(63)) RETURNS VARCHAR(2000) AS
        DECLARE VARIABLE R VARCHAR(2000) = '';
        DECLARE VARIABLE NOME VARCHAR(63);
        DECLARE VARIABLE TIPO INTEGER;
        DECLARE VARIABLE TAMANHO INTEGER;
    BEGIN
        FOR SELECT TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE, F.RDB$CHARACTER_LENGTH
            FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE
            WHERE RF.RDB$RELATION_NAME = :TABELA
            ORDER BY RF.RDB$FIELD_POSITION
            INTO :NOME, :TIPO, :TAMANHO
        DO
        BEGIN
            IF (R <> '') THEN
                R = R || ',';
            R = R || NOME || ':' || TIPO;
            IF (TIPO IN (14, 37)) THEN
                R = R || ':' || TAMANHO;
        END
        RETURN R;
    END

    /* The parameters of a procedure: E:NAME for inputs, S:NAME for outputs. */
    DECLARE FUNCTION PARAMETROS(PROCEDIMENTO VARCHAR(63)) RETURNS VARCHAR(2000) AS
        DECLARE VARIABLE R VARCHAR(2000) = '';
        DECLARE VARIABLE NOME VARCHAR(63);
        DECLARE VARIABLE SAIDA INTEGER;
    BEGIN
        FOR SELECT TRIM(RDB$PARAMETER_NAME), RDB$PARAMETER_TYPE FROM RDB$PROCEDURE_PARAMETERS
            WHERE RDB$PROCEDURE_NAME = :PROCEDIMENTO AND RDB$PACKAGE_NAME IS NULL
            ORDER BY RDB$PARAMETER_TYPE, RDB$PARAMETER_NUMBER
            INTO :NOME, :SAIDA
        DO
        BEGIN
            IF (R <> '') THEN
                R = R || ',';
            R = R || IIF(SAIDA = 0, 'E:', 'S:') || NOME;
        END
        RETURN R;
    END

    DECLARE FUNCTION EXISTE_TABELA(NOME VARCHAR(63)) RETURNS BOOLEAN AS
    BEGIN
        RETURN EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = :NOME);
    END

    DECLARE FUNCTION EXISTE_PROCEDIMENTO(NOME VARCHAR(63)) RETURNS BOOLEAN AS
    BEGIN
        RETURN EXISTS (SELECT 1 FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = :NOME AND RDB$PACKAGE_NAME IS NULL);
    END
BEGIN
    /* Our tables: exactly our columns. RPL_RESERVAS may still have the
       first version's two columns, or part of the later ones (an upgrade
       that stopped half-way). */
    ASSINATURA = COLUNAS('LOG_REPLICACAO');
    TEM_LOG = (ASSINATURA <> '');
    LOG_NOSSO = (ASSINATURA = 'ORDEM:16,CODIGOLOJAORIGEM:8,CODIGOLOJADESTINO:8,TIPO:14:1,TABELA:37:31,' ||
                              'ATUALVALORCHAVE1:37:255,ATUALVALORCHAVE2:37:255,NOVOVALORCHAVE1:37:255,' ||
                              'OCORRENCIA_LOCAL:35,ID_TRANSACAO:16');
    IF (TEM_LOG AND NOT LOG_NOSSO) THEN
    BEGIN
        RECUSA = 'LOG_REPLICACAO ja existe neste banco e nao e o log da replicacao (colunas ' || ASSINATURA ||
                 '). Renomeie essa tabela ou instale a replicacao em outro banco.';
        SUSPEND;
    END
    ASSINATURA = COLUNAS('RPL_CONFIGURACOES');
    IF (ASSINATURA <> '' AND ASSINATURA <> 'CODIGO:8,CODIGOLOJA:8,LINKCENTRAL:37:255,NIVELREPLICACAO:8,' ||
                                          'ULTIMORECEBIMENTO:16') THEN
    BEGIN
        RECUSA = 'RPL_CONFIGURACOES ja existe neste banco e nao e a da replicacao (colunas ' || ASSINATURA || ').';
        SUSPEND;
    END
    ASSINATURA = COLUNAS('RPL_RESERVAS');
    V1 = 'ID_TRANSACAO:16,ORDEMBASE:16';
    V2 = V1 || ',CONEXAO:16,USUARIO:37:63,ENDERECO:37:255,PROGRAMA:37:255,MOMENTO:35';
    IF (ASSINATURA <> '' AND NOT (ASSINATURA STARTING WITH V1 AND V2 STARTING WITH ASSINATURA)) THEN
    BEGIN
        RECUSA = 'RPL_RESERVAS ja existe neste banco e nao e a da replicacao (colunas ' || ASSINATURA || ').';
        SUSPEND;
    END
    ASSINATURA = COLUNAS('RPL_POSTOS_DE_LADO');
    IF (ASSINATURA <> '' AND ASSINATURA <> 'LADO:14:1,ORDEM:16,MOMENTO:35,MOTIVO:261,COMANDO:261,' ||
                                          'CODIGOLOJAORIGEM:8,CODIGOLOJADESTINO:8,TIPO:14:1,TABELA:37:31,' ||
                                          'ATUALVALORCHAVE1:37:255,ATUALVALORCHAVE2:37:255,NOVOVALORCHAVE1:37:255,' ||
                                          'OCORRENCIA_LOCAL:35,ID_TRANSACAO:16') THEN
    BEGIN
        RECUSA = 'RPL_POSTOS_DE_LADO ja existe neste banco e nao e a da replicacao (colunas ' || ASSINATURA || ').';
        SUSPEND;
    END
    ASSINATURA = COLUNAS('RPL_POSSE');
    IF (ASSINATURA <> '' AND ASSINATURA <> 'ID:8,CHAVE:37:64,PROGRAMA:37:100,MAQUINA:37:255,PROCESSO:16,' ||
                                          'DESDE:35,RENOVADA:35,VALIDADE:35,PAINEL_RECEBIMENTO:37:1000,' ||
                                          'PAINEL_ENVIO:37:1000,PUBLICADO:35,ULTIMA_FALHA:37:4000,MOMENTO_FALHA:35') THEN
    BEGIN
        RECUSA = 'RPL_POSSE ja existe neste banco e nao e a da replicacao (colunas ' || ASSINATURA || ').';
        SUSPEND;
    END
    /* The first version's reservations have a key, and dropping it waits
       for every transaction that used the table: the upgrade needs the
       database to itself. (An owner who is not SYSDBA sees only its own
       connections here; the key is then dropped without waiting, and a
       connection still there stops the script with a lock error.) */
    IF (EXISTS (SELECT 1 FROM RDB$RELATION_CONSTRAINTS
                WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$CONSTRAINT_TYPE = 'PRIMARY KEY')) THEN
    BEGIN
        SELECT COUNT(*) FROM MON$ATTACHMENTS
        WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0
        INTO :OUTRAS;
        IF (OUTRAS > 0) THEN
        BEGIN
            RECUSA = 'Os objetos deste banco sao da primeira versao, e atualiza-los precisa do banco sem outras ' ||
                     'conexoes: ha ' || OUTRAS || ' (o agente, os programas da loja). Feche-as e rode o script de novo.';
            SUSPEND;
        END
    END

    /* The generator goes with the log: alone it is someone else's; a log
       without it, or ahead of it, would repeat positions. */
    TEM_GERADOR = EXISTS (SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = 'GEN_LOG_REPLICACAO');
    IF (TEM_GERADOR AND NOT TEM_LOG) THEN
    BEGIN
        RECUSA = 'GEN_LOG_REPLICACAO ja existe neste banco sem o LOG_REPLICACAO: um gerador com esse nome que nao ' ||
                 'e o da replicacao. Renomeie-o ou instale a replicacao em outro banco.';
        SUSPEND;
    END
    IF (LOG_NOSSO AND NOT TEM_GERADOR) THEN
    BEGIN
        RECUSA = 'LOG_REPLICACAO existe sem o gerador GEN_LOG_REPLICACAO: uma instalacao incompleta; crie o gerador ' ||
                 'com o valor da maior ORDEM do log antes de rodar este script.';
        SUSPEND;
    END
    IF (LOG_NOSSO AND TEM_GERADOR) THEN
    BEGIN
        EXECUTE STATEMENT 'SELECT GEN_ID(GEN_LOG_REPLICACAO, 0), (SELECT COALESCE(MAX(ORDEM), 0) FROM LOG_REPLICACAO) ' ||
                          'FROM RDB$DATABASE' INTO :GERADA, :MAIOR;
        IF (GERADA < MAIOR) THEN
        BEGIN
            RECUSA = 'GEN_LOG_REPLICACAO (' || GERADA || ') esta abaixo da maior ORDEM do log (' || MAIOR ||
                     '): as proximas posicoes repetiriam as do log.';
            SUSPEND;
        END
    END

    /* Our procedures: their parameters. */
    ASSINATURA = PARAMETROS('PROC_REGISTRA_ALTERACAO');
    IF (EXISTE_PROCEDIMENTO('PROC_REGISTRA_ALTERACAO') AND
        ASSINATURA <> 'E:TABELA,E:TIPO,E:CHAVE1,E:CHAVE2,E:NOVACHAVE1') THEN
    BEGIN
        RECUSA = 'PROC_REGISTRA_ALTERACAO ja existe neste banco e nao e o da replicacao (parametros ' || ASSINATURA ||
                 ').';
        SUSPEND;
    END
    ASSINATURA = PARAMETROS('PROC_RETORNA_INDICE');
    IF (EXISTE_PROCEDIMENTO('PROC_RETORNA_INDICE') AND NOT ASSINATURA STARTING WITH
        'E:ORDEM,E:CODIGOLOJA,E:QTDCOMANDOS,S:ORDEMINICIAL,S:ORDEMFINAL,S:ULTIMAORDEM') THEN
    BEGIN
        RECUSA = 'PROC_RETORNA_INDICE ja existe neste banco e nao e o da replicacao (parametros ' || ASSINATURA ||
                 ').';
        SUSPEND;
    END
    ASSINATURA = PARAMETROS('PROC_VERSAO_REPLICACAO');
    IF (EXISTE_PROCEDIMENTO('PROC_VERSAO_REPLICACAO')) THEN
    BEGIN
        IF (ASSINATURA <> 'S:VERSAO') THEN
        BEGIN
            RECUSA = 'PROC_VERSAO_REPLICACAO ja existe neste banco e nao e o da replicacao (parametros ' ||
                     ASSINATURA || ').';
            SUSPEND;
        END
        ELSE
        BEGIN
            EXECUTE STATEMENT 'SELECT VERSAO FROM PROC_VERSAO_REPLICACAO' INTO :VERSAO;
            IF (VERSAO > 4) THEN
            BEGIN
                RECUSA = 'Os objetos da replicacao deste banco sao da versao ' || VERSAO ||
                         ', mais nova que a deste script (4): use o script que acompanha o agente dessa versao.';
                SUSPEND;
            END
        END
    END

    /* Our triggers and index, where they stand. */
    IF (EXISTS (SELECT 1 FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = 'LOG_REPLICACAO_BI'
                AND RDB$RELATION_NAME IS DISTINCT FROM 'LOG_REPLICACAO')) THEN
    BEGIN
        RECUSA = 'Um gatilho LOG_REPLICACAO_BI ja existe neste banco em outra tabela.';
        SUSPEND;
    END
    IF (EXISTS (SELECT 1 FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME IN ('RPL_TRANSACAO_COMMIT', 'RPL_TRANSACAO_ROLLBACK')
                AND RDB$RELATION_NAME IS NOT NULL)) THEN
    BEGIN
        RECUSA = 'Um gatilho RPL_TRANSACAO_COMMIT ou RPL_TRANSACAO_ROLLBACK ja existe neste banco numa tabela.';
        SUSPEND;
    END
    IF (EXISTS (SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IX_LOG_REPLICACAO_ORDEM_DESC'
                AND RDB$RELATION_NAME <> 'LOG_REPLICACAO')) THEN
    BEGIN
        RECUSA = 'Um indice IX_LOG_REPLICACAO_ORDEM_DESC ja existe neste banco em outra tabela.';
        SUSPEND;
    END
    IF (RECUSA IS NOT NULL) THEN
        NADA = RDB$SET_CONTEXT('USER_SESSION', 'RPL_RECUSADA', 1);
END^
SET LIST OFF^

EXECUTE BLOCK AS
    DECLARE VARIABLE NADA INTEGER;
BEGIN
    IF (RDB$GET_CONTEXT('USER_SESSION', 'RPL_RECUSADA') IS NOT NULL) THEN
        NADA = CAST('Instalacao recusada: nada foi criado' AS INTEGER);
END^

/* ------------------------------------------------------------------------
 * The tables, created only where they are missing, and their columns.
 *
 * Settings. The agent uses the row with the lowest CODIGO and ignores the
 * others. The store fills it in; for example:
 *
 *     INSERT INTO RPL_CONFIGURACOES
 *         (CODIGO, CODIGOLOJA, LINKCENTRAL, NIVELREPLICACAO, ULTIMORECEBIMENTO)
 *     VALUES (1, 12, 'https://central.example.com/replicacao/', 1, 0);
 *     COMMIT;
 *
 * ULTIMORECEBIMENTO is the central position received so far; the agent
 * advances it, start it at 0. A store made from a copy of another store's
 * database ("ondarisd --nova-loja") keeps the copy's instead.
 * ---------------------------------------------------------------------- */

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
 * takes afterwards lie above ORDEMBASE. The reservation also says who made
 * it (attachment, user, client address and program, time), so that the
 * agent can name a transaction that holds sending back for long. A
 * transaction that logged nothing has no reservation and holds nothing.
 *
 * A reservation stops counting as soon as its transaction ends:
 *   - committed: its log rows (which carry its id in ID_TRANSACAO) become
 *     visible in the same instant, and a reservation with a visible log row
 *     of its own above ORDEMBASE belongs to a committed transaction. This
 *     costs the committing transaction nothing. Only when none of its log
 *     rows survived (each logged statement failed) does
 *     RPL_TRANSACAO_COMMIT delete the reservation, inside the committing
 *     transaction, so that this too becomes visible with the commit;
 *   - rolled back: RPL_TRANSACAO_ROLLBACK deletes the reservation in an
 *     autonomous transaction (what the ending transaction itself writes is
 *     undone with it);
 *   - both triggers fire for every transaction of every attachment; for one
 *     that reserved nothing (a reader, a writer of tables that are not
 *     logged) they only read a context variable. They also serve COMMIT
 *     RETAINING and ROLLBACK RETAINING, after which the transaction goes on
 *     under a new number; a change logged under the new number reserves
 *     again (the trigger compares the numbers, so this holds even for an
 *     attachment that runs without database triggers);
 *   - ended without either trigger (its attachment was cut, the server
 *     stopped, or it was a snapshot transaction whose logged statements all
 *     failed: it cannot see a reservation committed after it started): the
 *     reservation is passed over once the database's oldest active
 *     transaction (MON$OLDEST_ACTIVE) is above its id, since every
 *     transaction below that one has ended;
 *   - transaction numbers start again after a backup and restore, so the
 *     reservations copied from before name transactions that cannot exist:
 *     ids above the newest transaction (MON$NEXT_TRANSACTION) are passed
 *     over, and removed.
 *
 * PROC_RETORNA_INDICE then reads:
 *   G, the generator's current value: every position up to G has been
 *      handed out, by a transaction whose reservation was already committed;
 *   A and N, the oldest active and the newest transaction (MON$DATABASE,
 *      readable by every user), in a transaction of their own that starts
 *      after G was read: a caller's transaction may keep an older view of
 *      the monitoring tables, and an older N would miss recent writers;
 *   B, the lowest ORDEMBASE among the reservations, read after G, that may
 *      belong to an open transaction: id from A to N, and no visible log
 *      row of that transaction between ORDEMBASE and G;
 * and reads the log itself after that. No position up to min(G, B) can
 * belong to a transaction that is still open. Its owner's reservation was
 * committed before the position was handed out, hence before G was read,
 * so the read of the reservations sees it unless the owner has ended; the
 * owner started before G was read, so its id is at most N; being open when
 * A was read, its id is at least A; being open, none of its log rows is
 * visible. So its ORDEMBASE counts in B, and its positions lie above B.
 * When the owner committed, its log rows became visible with its commit;
 * when it did not, its positions stay empty for good. So a block never
 * runs past min(G, B), and empty positions below it are passed over. An
 * empty position is passed by the first call after the transaction that
 * took it has ended.
 *
 * What it costs, measured on Firebird 3.0 on a small test machine
 * (loopback, forced writes on, best of several interleaved runs):
 *   - per logged change, the trigger, the log row and the generator:
 *     about 20 microseconds (20,000 inserts in one transaction: 0.23 s
 *     without logging, 0.65 s with it);
 *   - per writing transaction, the reservation (one autonomous
 *     transaction): bench/bench_reservas compares one-row transactions
 *     against the previous version of this script, which kept reservations
 *     until the agent's next call. One that logs a change and commits now
 *     writes 11.1 pages instead of 12.1 (the reservation table has no
 *     index) and takes no longer, about 1.7 ms; one that rolls back writes
 *     19.9 instead of 17.0, the price of giving its reservation up at once
 *     (about 0.6 ms); a transaction that logs nothing writes what it always
 *     did, and the end triggers add about 10 to 20 microseconds to its end;
 *   - PROC_RETORNA_INDICE for a block of 1000 in a 60,000-row log: about
 *     2 ms per call, and about 0.6 ms more for the transaction of its own
 *     that reads A and N.
 * ---------------------------------------------------------------------- */
EXECUTE BLOCK AS
BEGIN
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'RPL_CONFIGURACOES')) THEN
        EXECUTE STATEMENT
            'CREATE TABLE RPL_CONFIGURACOES (
                 CODIGO            INTEGER NOT NULL,
                 CODIGOLOJA        INTEGER NOT NULL,
                 LINKCENTRAL       VARCHAR(255),
                 NIVELREPLICACAO   INTEGER,
                 ULTIMORECEBIMENTO BIGINT DEFAULT 0 NOT NULL,
                 CONSTRAINT PK_RPL_CONFIGURACOES PRIMARY KEY (CODIGO))';
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'LOG_REPLICACAO')) THEN
        EXECUTE STATEMENT
            'CREATE TABLE LOG_REPLICACAO (
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
                 CONSTRAINT PK_LOG_REPLICACAO PRIMARY KEY (ORDEM))';
    IF (NOT EXISTS (SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = 'GEN_LOG_REPLICACAO')) THEN
        EXECUTE STATEMENT 'CREATE SEQUENCE GEN_LOG_REPLICACAO';
    /* No index and no key: writing one would cost every writing transaction
       one more page. The end triggers find their row by its DB_KEY, kept in
       a context variable; only PROC_RETORNA_INDICE reads the whole table,
       which holds about one row per writing transaction since its last
       call. A row left from before a restore may bear the number of a
       transaction open now: it then holds the log with it, and goes when
       that one has ended. Who reserved: CURRENT_CONNECTION, CURRENT_USER,
       the client's address and program as the server knows them, and when;
       raw bytes (NONE): whatever a client sends must never make a store's
       change fail. */
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'RPL_RESERVAS')) THEN
        EXECUTE STATEMENT
            'CREATE TABLE RPL_RESERVAS (
                 ID_TRANSACAO BIGINT NOT NULL,
                 ORDEMBASE    BIGINT NOT NULL,
                 CONEXAO      BIGINT,
                 USUARIO      VARCHAR(63) CHARACTER SET NONE,
                 ENDERECO     VARCHAR(255) CHARACTER SET NONE,
                 PROGRAMA     VARCHAR(255) CHARACTER SET NONE,
                 MOMENTO      TIMESTAMP)';
    /* What a technician set aside ("ondarisd --por-de-lado-envio" or
       "--por-de-lado-recebido"): a command that could not be sent or
       applied and held back everything after it. LADO 'E' is a row of this
       store's log, kept here with all its columns (it is gone from the
       log); LADO 'R' a command received from the central server, ORDEM its
       position there and COMANDO its JSON text as the server sent it.
       MOTIVO is the failure's text. Nothing here is ever sent, applied or
       deleted by the agent: the rows say where this store may differ from
       the others until someone corrects that row by hand. */
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'RPL_POSTOS_DE_LADO')) THEN
        EXECUTE STATEMENT
            'CREATE TABLE RPL_POSTOS_DE_LADO (
                 LADO              CHAR(1) NOT NULL,
                 ORDEM             BIGINT NOT NULL,
                 MOMENTO           TIMESTAMP DEFAULT CURRENT_TIMESTAMP NOT NULL,
                 MOTIVO            BLOB SUB_TYPE TEXT CHARACTER SET UTF8,
                 COMANDO           BLOB SUB_TYPE TEXT CHARACTER SET UTF8,
                 CODIGOLOJAORIGEM  INTEGER,
                 CODIGOLOJADESTINO INTEGER,
                 TIPO              CHAR(1),
                 TABELA            VARCHAR(31),
                 ATUALVALORCHAVE1  VARCHAR(255),
                 ATUALVALORCHAVE2  VARCHAR(255),
                 NOVOVALORCHAVE1   VARCHAR(255),
                 OCORRENCIA_LOCAL  TIMESTAMP,
                 ID_TRANSACAO      BIGINT,
                 CONSTRAINT PK_RPL_POSTOS_DE_LADO PRIMARY KEY (LADO, ORDEM),
                 CONSTRAINT CK_RPL_POSTOS_DE_LADO_LADO CHECK (LADO IN (''E'', ''R'')))';
    /* Which agent synchronises this database: one row (ID 1). Two agents
       on one database (the tray program and the service, or two copies on
       two machines) would both receive and apply the same blocks; so every
       cycle starts by claiming this row with one committed UPDATE that
       succeeds only when the row is free, already its own (CHAVE), or
       expired by the database server's clock (VALIDADE), and renews it.
       An agent that stops cleanly frees it; one that was killed leaves it
       to expire (or, on its own machine, to the next agent that finds its
       process gone). No attachment is kept for it between cycles. The
       holder also writes what its two status panels showed at the end of
       its last cycle and its last failure, which another agent shows
       instead of running a cycle of its own. */
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'RPL_POSSE')) THEN
        EXECUTE STATEMENT
            'CREATE TABLE RPL_POSSE (
                 ID                 INTEGER NOT NULL,
                 CHAVE              VARCHAR(64),
                 PROGRAMA           VARCHAR(100) CHARACTER SET UTF8,
                 MAQUINA            VARCHAR(255) CHARACTER SET UTF8,
                 PROCESSO           BIGINT,
                 DESDE              TIMESTAMP,
                 RENOVADA           TIMESTAMP,
                 VALIDADE           TIMESTAMP,
                 PAINEL_RECEBIMENTO VARCHAR(1000) CHARACTER SET UTF8,
                 PAINEL_ENVIO       VARCHAR(1000) CHARACTER SET UTF8,
                 PUBLICADO          TIMESTAMP,
                 ULTIMA_FALHA       VARCHAR(4000) CHARACTER SET UTF8,
                 MOMENTO_FALHA      TIMESTAMP,
                 CONSTRAINT PK_RPL_POSSE PRIMARY KEY (ID),
                 CONSTRAINT CK_RPL_POSSE_ID CHECK (ID = 1))';
END^
COMMIT^

/* The hold's one row, free. */
EXECUTE BLOCK AS
BEGIN
    IF (NOT EXISTS (SELECT 1 FROM RPL_POSSE)) THEN
        INSERT INTO RPL_POSSE (ID) VALUES (1);
END^
COMMIT^

/* ------------------------------------------------------------------------
 * What the first version lacked, added to its tables as they stand. Never
 * waiting for a lock: a store transaction in the way stops the script here
 * instead of holding it, and the version stays the first until it runs
 * again.
 * ---------------------------------------------------------------------- */
SET TRANSACTION NO WAIT^
EXECUTE BLOCK AS
    DECLARE VARIABLE RESTRICAO VARCHAR(63);
BEGIN
    /* The reservation's owner. */
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_FIELDS
                    WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$FIELD_NAME = 'CONEXAO')) THEN
        EXECUTE STATEMENT 'ALTER TABLE RPL_RESERVAS ADD CONEXAO BIGINT';
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_FIELDS
                    WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$FIELD_NAME = 'USUARIO')) THEN
        EXECUTE STATEMENT 'ALTER TABLE RPL_RESERVAS ADD USUARIO VARCHAR(63) CHARACTER SET NONE';
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_FIELDS
                    WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$FIELD_NAME = 'ENDERECO')) THEN
        EXECUTE STATEMENT 'ALTER TABLE RPL_RESERVAS ADD ENDERECO VARCHAR(255) CHARACTER SET NONE';
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_FIELDS
                    WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$FIELD_NAME = 'PROGRAMA')) THEN
        EXECUTE STATEMENT 'ALTER TABLE RPL_RESERVAS ADD PROGRAMA VARCHAR(255) CHARACTER SET NONE';
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_FIELDS
                    WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$FIELD_NAME = 'MOMENTO')) THEN
        EXECUTE STATEMENT 'ALTER TABLE RPL_RESERVAS ADD MOMENTO TIMESTAMP';
    /* The reservations' key goes: a reservation left from before a restore
       may bear the number of a transaction open now, and that transaction's
       own reservation must not fail its change. */
    FOR SELECT TRIM(RDB$CONSTRAINT_NAME) FROM RDB$RELATION_CONSTRAINTS
        WHERE RDB$RELATION_NAME = 'RPL_RESERVAS' AND RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'
        INTO :RESTRICAO
    DO
        EXECUTE STATEMENT 'ALTER TABLE RPL_RESERVAS DROP CONSTRAINT ' || RESTRICAO;
    /* A log that still takes 'I' for inserts: its rows take 'U', the letter
       the agent sends for inserts and updates alike, and its check is
       replaced below. */
    IF (EXISTS (SELECT 1 FROM RDB$CHECK_CONSTRAINTS C
                JOIN RDB$TRIGGERS T ON T.RDB$TRIGGER_NAME = C.RDB$TRIGGER_NAME
                WHERE C.RDB$CONSTRAINT_NAME = 'CK_LOG_REPLICACAO_TIPO'
                  AND T.RDB$TRIGGER_SOURCE CONTAINING '''I''')) THEN
    BEGIN
        EXECUTE STATEMENT 'UPDATE LOG_REPLICACAO SET TIPO = ''U'' WHERE TIPO = ''I''';
        EXECUTE STATEMENT 'ALTER TABLE LOG_REPLICACAO DROP CONSTRAINT CK_LOG_REPLICACAO_TIPO';
    END
END^
COMMIT^

EXECUTE BLOCK AS
BEGIN
    IF (NOT EXISTS (SELECT 1 FROM RDB$RELATION_CONSTRAINTS
                    WHERE RDB$CONSTRAINT_NAME = 'CK_LOG_REPLICACAO_TIPO')) THEN
        EXECUTE STATEMENT
            'ALTER TABLE LOG_REPLICACAO ADD CONSTRAINT CK_LOG_REPLICACAO_TIPO CHECK (TIPO IN (''U'', ''D''))';
    /* The agent asks for MAX(ORDEM) every cycle: a descending index answers
       it without reading the log. */
    IF (NOT EXISTS (SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IX_LOG_REPLICACAO_ORDEM_DESC')) THEN
        EXECUTE STATEMENT 'CREATE DESCENDING INDEX IX_LOG_REPLICACAO_ORDEM_DESC ON LOG_REPLICACAO (ORDEM)';
END^
COMMIT^

/* Assigns the position and the transaction of every log row, reserving the
   transaction's positions first (see the comment of RPL_RESERVAS). The
   settings row is read once per reservation. */
CREATE OR ALTER TRIGGER LOG_REPLICACAO_BI FOR LOG_REPLICACAO
ACTIVE BEFORE INSERT POSITION 0
AS
DECLARE VARIABLE TRANSACAO BIGINT;
DECLARE VARIABLE BASE BIGINT;
DECLARE VARIABLE CHAVE CHAR(8) CHARACTER SET OCTETS;
DECLARE VARIABLE LOJA INTEGER;
DECLARE VARIABLE NADA INTEGER;
BEGIN
    TRANSACAO = CURRENT_TRANSACTION;
    IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVA') IS DISTINCT FROM TRANSACAO) THEN
    BEGIN
        /* Committed at the end of the block, before this transaction takes
           its first position. Inside it CURRENT_TRANSACTION is the
           autonomous one, hence the variable. The row's DB_KEY lets the end
           triggers find it again without an index. */
        BASE = GEN_ID(GEN_LOG_REPLICACAO, 0);
        IN AUTONOMOUS TRANSACTION DO
            INSERT INTO RPL_RESERVAS
                (ID_TRANSACAO, ORDEMBASE, CONEXAO, USUARIO, ENDERECO, PROGRAMA, MOMENTO)
            VALUES (:TRANSACAO, :BASE, CURRENT_CONNECTION, CURRENT_USER,
                    RDB$GET_CONTEXT('SYSTEM', 'CLIENT_ADDRESS'),
                    RDB$GET_CONTEXT('SYSTEM', 'CLIENT_PROCESS'), CURRENT_TIMESTAMP)
            RETURNING RDB$DB_KEY INTO :CHAVE;
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVA', TRANSACAO);
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_BASE', BASE);
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_CHAVE', CHAVE);

        SELECT FIRST 1 CODIGOLOJA FROM RPL_CONFIGURACOES
        ORDER BY CODIGO
        INTO :LOJA;
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_LOJA', LOJA);
    END

    NEW.ORDEM = GEN_ID(GEN_LOG_REPLICACAO, 1);
    NEW.ID_TRANSACAO = TRANSACAO;
    IF (NEW.CODIGOLOJAORIGEM IS NULL) THEN
        NEW.CODIGOLOJAORIGEM = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_LOJA');
    IF (NEW.OCORRENCIA_LOCAL IS NULL) THEN
        NEW.OCORRENCIA_LOCAL = CURRENT_TIMESTAMP;
END^

/* A committing transaction whose log rows all failed gives its reservation
   up here (see the comment of RPL_RESERVAS); one with a log row does
   nothing more. Nothing here may fail the store's commit: should the
   deletion fail, the reservation stays until the oldest active transaction
   passes it, which only delays sending. */
CREATE OR ALTER TRIGGER RPL_TRANSACAO_COMMIT
ACTIVE ON TRANSACTION COMMIT POSITION 0
AS
DECLARE VARIABLE RESERVA BIGINT;
DECLARE VARIABLE BASE BIGINT;
DECLARE VARIABLE CHAVE CHAR(8) CHARACTER SET OCTETS;
DECLARE VARIABLE NADA INTEGER;
BEGIN
    RESERVA = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVA');
    IF (RESERVA IS NOT NULL) THEN
    BEGIN
        BASE = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_BASE');
        CHAVE = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_CHAVE');
        IF (NOT EXISTS (SELECT 1 FROM LOG_REPLICACAO
                        WHERE ORDEM > :BASE AND ID_TRANSACAO = :RESERVA)) THEN
        BEGIN
            DELETE FROM RPL_RESERVAS WHERE RDB$DB_KEY = :CHAVE;
            WHEN ANY DO
            BEGIN
            END
        END
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVA', NULL);
    END
END^

/* A transaction that rolls back gives its reservation up at once; in an
   autonomous transaction, since its own writes are undone. Should that
   fail, the reservation stays until the oldest active transaction passes
   it, which only delays sending. */
CREATE OR ALTER TRIGGER RPL_TRANSACAO_ROLLBACK
ACTIVE ON TRANSACTION ROLLBACK POSITION 0
AS
DECLARE VARIABLE RESERVA BIGINT;
DECLARE VARIABLE CHAVE CHAR(8) CHARACTER SET OCTETS;
DECLARE VARIABLE NADA INTEGER;
BEGIN
    RESERVA = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVA');
    IF (RESERVA IS NOT NULL) THEN
    BEGIN
        CHAVE = RDB$GET_CONTEXT('USER_TRANSACTION', 'RPL_CHAVE');
        BEGIN
            IN AUTONOMOUS TRANSACTION DO
                DELETE FROM RPL_RESERVAS WHERE RDB$DB_KEY = :CHAVE;
            WHEN ANY DO
            BEGIN
            END
        END
        NADA = RDB$SET_CONTEXT('USER_TRANSACTION', 'RPL_RESERVA', NULL);
    END
END^

/* Writes one log row. Changes made by the replication account are the ones
   the agent received from the central server: logging them would send them
   back, so they are skipped here. */
CREATE OR ALTER PROCEDURE PROC_REGISTRA_ALTERACAO (
    TABELA     VARCHAR(31),
    TIPO       CHAR(1),
    CHAVE1     VARCHAR(255),
    CHAVE2     VARCHAR(255),
    NOVACHAVE1 VARCHAR(255))
AS
BEGIN
    IF (CURRENT_USER = 'ONDARIS') THEN
        EXIT;
    /* Triggers copied from the first examples log inserts as 'I'; the log
       keeps 'U' for inserts and updates alike, the letter the agent sends. */
    IF (TIPO = 'I') THEN
        TIPO = 'U';
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

   The block never runs past LIMITE, the highest position that no open
   transaction may still fill (see the comment of RPL_RESERVAS). When a
   reservation sets it, RETENTOR_* say whose it is: its transaction,
   attachment, user, client address and program, and when it reserved.
   LIMITE below ULTIMAORDEM means committed changes wait for that
   transaction to end.

   Passing over empty positions relies on read-committed visibility; called
   in a snapshot transaction, where rows committed after its start are
   invisible, the block ends at the first empty position instead. */
CREATE OR ALTER PROCEDURE PROC_RETORNA_INDICE (
    ORDEM       BIGINT,
    CODIGOLOJA  INTEGER,
    QTDCOMANDOS INTEGER)
RETURNS (
    ORDEMINICIAL       BIGINT,
    ORDEMFINAL         BIGINT,
    ULTIMAORDEM        BIGINT,
    LIMITE             BIGINT,
    RETENTOR_TRANSACAO BIGINT,
    RETENTOR_CONEXAO   BIGINT,
    RETENTOR_USUARIO   VARCHAR(63) CHARACTER SET NONE,
    RETENTOR_ENDERECO  VARCHAR(255) CHARACTER SET NONE,
    RETENTOR_PROGRAMA  VARCHAR(255) CHARACTER SET NONE,
    RETENTOR_MOMENTO   TIMESTAMP)
AS
DECLARE VARIABLE GERADA BIGINT;
DECLARE VARIABLE ATIVA BIGINT;
DECLARE VARIABLE RECENTE BIGINT;
DECLARE VARIABLE BASE BIGINT;
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

    /* G, then A and N, then the reservations, then the log: see
       RPL_RESERVAS. */
    GERADA = GEN_ID(GEN_LOG_REPLICACAO, 0);
    IN AUTONOMOUS TRANSACTION DO
        SELECT MON$OLDEST_ACTIVE, MON$NEXT_TRANSACTION FROM MON$DATABASE
        INTO :ATIVA, :RECENTE;

    LIMITE = GERADA;
    FOR SELECT FIRST 1 R.ORDEMBASE, R.ID_TRANSACAO, R.CONEXAO, R.USUARIO, R.ENDERECO,
                       R.PROGRAMA, R.MOMENTO
        FROM RPL_RESERVAS R
        WHERE R.ID_TRANSACAO BETWEEN :ATIVA AND :RECENTE
          AND R.ORDEMBASE < :GERADA
          AND NOT EXISTS (SELECT 1 FROM LOG_REPLICACAO L
                          WHERE L.ORDEM > R.ORDEMBASE AND L.ORDEM <= :GERADA
                            AND L.ID_TRANSACAO = R.ID_TRANSACAO)
        ORDER BY R.ORDEMBASE, R.ID_TRANSACAO
        INTO :BASE, :RETENTOR_TRANSACAO, :RETENTOR_CONEXAO, :RETENTOR_USUARIO,
             :RETENTOR_ENDERECO, :RETENTOR_PROGRAMA, :RETENTOR_MOMENTO
    DO
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

    /* Reservations that no longer count are removed: those of ended
       transactions, and those that cannot belong to any (an id above N
       with an ORDEMBASE below G: a transaction started after N reserved
       after G was read). Pruning is housekeeping: in a read-only
       transaction, or when another caller is pruning the same rows, it
       waits for a later call. */
    BEGIN
        DELETE FROM RPL_RESERVAS R
        WHERE R.ID_TRANSACAO < :ATIVA
           OR (R.ID_TRANSACAO > :RECENTE AND R.ORDEMBASE < :GERADA)
           OR EXISTS (SELECT 1 FROM LOG_REPLICACAO L
                      WHERE L.ORDEM > R.ORDEMBASE AND L.ORDEM <= :GERADA
                        AND L.ID_TRANSACAO = R.ID_TRANSACAO);
        WHEN GDSCODE read_only_trans, GDSCODE lock_conflict,
             GDSCODE update_conflict, GDSCODE deadlock DO
        BEGIN
        END
    END

    SUSPEND;
END^

SET TERM ; ^

/* ------------------------------------------------------------------------
 * Rights of the replication objects themselves, so that every store user
 * who may change a replicated table gets the change logged, and the
 * replication account can run the procedure, without rights of their own
 * on the log, the reservations or the generator.
 * ---------------------------------------------------------------------- */
GRANT SELECT ON RPL_CONFIGURACOES TO TRIGGER LOG_REPLICACAO_BI;
GRANT SELECT, INSERT, UPDATE ON RPL_RESERVAS TO TRIGGER LOG_REPLICACAO_BI;
GRANT USAGE ON SEQUENCE GEN_LOG_REPLICACAO TO TRIGGER LOG_REPLICACAO_BI;

GRANT SELECT, DELETE ON RPL_RESERVAS TO TRIGGER RPL_TRANSACAO_COMMIT;
GRANT SELECT ON LOG_REPLICACAO TO TRIGGER RPL_TRANSACAO_COMMIT;
GRANT SELECT, DELETE ON RPL_RESERVAS TO TRIGGER RPL_TRANSACAO_ROLLBACK;

GRANT INSERT ON LOG_REPLICACAO TO PROCEDURE PROC_REGISTRA_ALTERACAO;

GRANT SELECT ON LOG_REPLICACAO TO PROCEDURE PROC_RETORNA_INDICE;
GRANT SELECT, DELETE ON RPL_RESERVAS TO PROCEDURE PROC_RETORNA_INDICE;
GRANT USAGE ON SEQUENCE GEN_LOG_REPLICACAO TO PROCEDURE PROC_RETORNA_INDICE;

/* ------------------------------------------------------------------------
 * Rights of the replication account ONDARIS. It reads the settings and
 * writes back only the received position; it reads the log (the system
 * catalogue is readable by every user); it runs the block procedure; and
 * it reads and writes the replicated tables (their grants come with their
 * logging triggers: ondarisd --instalar-gatilhos).
 * ---------------------------------------------------------------------- */
GRANT SELECT, UPDATE (ULTIMORECEBIMENTO) ON RPL_CONFIGURACOES TO USER ONDARIS;
GRANT SELECT ON LOG_REPLICACAO TO USER ONDARIS;
GRANT EXECUTE ON PROCEDURE PROC_RETORNA_INDICE TO USER ONDARIS;
/* A received command is set aside in the transaction that moves the
   received position past it, on the account's own connection; the
   self-check lists what was set aside. */
GRANT SELECT, INSERT ON RPL_POSTOS_DE_LADO TO USER ONDARIS;
/* The hold: claimed, renewed, published and freed by the agent itself
   (inserted again should someone have deleted its row). */
GRANT SELECT, INSERT, UPDATE ON RPL_POSSE TO USER ONDARIS;

/* ------------------------------------------------------------------------
 * The version of these objects, last: a run that stopped half-way leaves
 * the version the database had, and the agent keeps saying what to do.
 * ---------------------------------------------------------------------- */
SET TERM ^ ;
CREATE OR ALTER PROCEDURE PROC_VERSAO_REPLICACAO
RETURNS (VERSAO INTEGER)
AS
BEGIN
    VERSAO = 4;
    SUSPEND;
END^
SET TERM ; ^
GRANT EXECUTE ON PROCEDURE PROC_VERSAO_REPLICACAO TO PUBLIC;

COMMIT;

SET LIST ON;
SELECT 'Objetos da replicacao instalados, versao ' || VERSAO ||
       '. Nenhuma tabela da loja foi criada ou alterada: os gatilhos de registro das tabelas ' ||
       'replicadas vem de ondarisd --instalar-gatilhos.' AS RESULTADO
FROM PROC_VERSAO_REPLICACAO;
